// The monitor's outputs against each other, end to end: the built-in
// simulator polled once per combination of history file, event file, MQTT (a
// real mosquitto) and HTTP. Whatever is on, the run stops cleanly without a
// storage event, and every output carries the values, the alarm state and the
// cycle number that the per-cycle summary on standard output (always on)
// shows: HTTP and MQTT for the cycle HTTP served, the files for the last cycle.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdio>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "Broker.h"
#include "Bytes.h"
#include "ProcessKit.h"
#include "image_decoder.h"

using namespace testing_support;

namespace {
const std::string kMonitor = TRM27K_MONITOR_PATH;
const std::string kDecode = TRM27K_DECODE_PATH;
// A high phase voltage on AC screen 11 and a high bus voltage on DC screen 21,
// at values unlike the simulator's defaults: an output showing another child,
// a default or an image from elsewhere cannot match. Two alarms, one each.
constexpr const char* kScenario =
    R"({"ac": {"0": {"channels": {"0": {"a": 236.4, "c_alert": 2}}}},
        "dc": {"0": {"v": 54.7, "v_alarm": 2}}})";
constexpr size_t kAlarms = 2;
constexpr double kBound = 30;  // seconds for anything to show, on a loaded machine

struct Outputs {
    bool history, events, mqtt, http;
};

using Alarms = std::set<std::string>;  // "data_id key code"

// What one output says about one cycle: its number, AC screen 11's first
// channel's phase a, DC screen 21's bus voltage and the active alarms. Volts
// as the record's floats, so no output's decimal rendering makes a difference.
struct View {
    uint64_t cycle = 0;
    float acVolts = 0;
    float dcVolts = 0;
    Alarms alarms;
    bool operator==(const View& o) const {
        return cycle == o.cycle && acVolts == o.acVolts && dcVolts == o.dcVolts &&
               alarms == o.alarms;
    }
};

void PrintTo(const View& v, std::ostream* os) {
    *os << "cycle " << v.cycle << ", AC 11 ch0 a " << v.acVolts << " V, DC 21 " << v.dcVolts
        << " V, alarms {";
    for (const std::string& a : v.alarms) *os << " [" << a << "]";
    *os << " }";
}

std::string AlarmName(const Json::Value& a) {
    return std::to_string(a["data_id"].asUInt()) + " " + a["key"].asString() + " " +
           a["code"].asString();
}

Alarms AlarmNames(const Json::Value& active) {
    Alarms out;
    for (const Json::Value& a : active) out.insert(AlarmName(a));
    return out;
}

Json::Value Child(const Json::Value& children, unsigned id) {
    for (const Json::Value& c : children) {
        if (c["data_id"].asUInt() == id) return c;
    }
    return {};
}

// The values by the field names every JSON output shares with the records.
View ViewOf(uint64_t cycle, const Json::Value& ac, const Json::Value& dc, Alarms alarms) {
    return View{cycle, ac["channels"][0]["a"].asFloat(), dc["v"].asFloat(), std::move(alarms)};
}

// Every block of the per-cycle summary by its cycle number; the last one may
// still be half written while the monitor runs.
std::map<uint64_t, View> SummaryViews(const std::string& path) {
    std::ifstream file(path);
    std::istringstream in(std::string(std::istreambuf_iterator<char>(file), {}));
    std::map<uint64_t, View> out;
    View* v = nullptr;
    for (std::string line; std::getline(in, line);) {
        unsigned long cycle = 0;
        unsigned id = 0;
        float volts = 0;
        char key[32], code[16];
        if (std::sscanf(line.c_str(), "cycle %lu", &cycle) == 1) {
            v = &out[cycle];
            v->cycle = cycle;
        }
        if (v == nullptr) continue;
        if (std::sscanf(line.c_str(), " AC 11: [ch0 %f", &volts) == 1) v->acVolts = volts;
        if (std::sscanf(line.c_str(), " DC 21: %f", &volts) == 1) v->dcVolts = volts;
        if (std::sscanf(line.c_str(), " [%u %31s %15[^]]", &id, key, code) == 3) {
            v->alarms.insert(std::to_string(id) + " " + key + " " + code);
        }
    }
    return out;
}

View At(const std::map<uint64_t, View>& views, uint64_t cycle) {
    const auto it = views.find(cycle);
    return it != views.end() ? it->second : View{};
}

// The first cycle whose summary is whole (the next one began) and shows both
// alarms: the rules are checked beside the poll and may trail its first
// cycles; from then on the alarm state holds still. 0 while there is none.
uint64_t SettledCycle(const std::map<uint64_t, View>& views) {
    for (const auto& [cycle, view] : views) {
        if (view.alarms.size() == kAlarms && views.count(cycle + 1) > 0) return cycle;
    }
    return 0;
}

// HTTP now: /api/state's values at its cycle and /api/alarms' active alarms,
// which may be a cycle or two older: once settled, the alarms hold still.
View HttpView(int port) {
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(static_cast<time_t>(kBound), 0);
    const auto alarms = http.Get("/api/alarms");
    const auto state = http.Get("/api/state");
    if (!alarms || !state) return {};
    const Json::Value a = ParseJson(alarms->body);
    const Json::Value s = ParseJson(state->body);
    return ViewOf(s["seq"].asUInt64(), Child(s["children"], 11)["values"],
                  Child(s["children"], 21)["values"], AlarmNames(a["active"]));
}

// MQTT for `cycle`: the states of that sequence number and the newest
// "alarms" message from then or before (it goes out when the alarms change).
View MqttView(const std::vector<Received>& all, const std::string& site, uint64_t cycle) {
    const std::string prefix = "trm27k/" + site + "/";
    Json::Value ac, dc, alarms;
    for (const Received& m : all) {
        const bool acState = m.topic == prefix + "11/state";
        const bool dcState = m.topic == prefix + "21/state";
        const bool alarmsState = m.topic == prefix + "alarms";
        if (!acState && !dcState && !alarmsState) continue;
        const Json::Value j = ParseJson(m.payload);
        const uint64_t seq = j["seq"].asUInt64();
        if (acState && seq == cycle) ac = j;
        if (dcState && seq == cycle) dc = j;
        if (alarmsState && seq <= cycle) alarms = j;
    }
    if (ac.isNull() || dc.isNull() || alarms.isNull()) return {};
    return ViewOf(cycle, ac, dc, AlarmNames(alarms["active"]));
}

// A "record" event's hex image, decoded as trm27k-decode decodes it.
Json::Value Decoded(const Json::Value& record) {
    const Bytes image = Hex(record["image"].asString());
    Json::Value out;
    std::string error;
    decode::DecodeImage(record["type"].asInt(), image.data(), image.size(), out, error);
    return out;
}

// The event file's last cycle: its count, the images recorded ahead of it and
// the alarms raised and not cleared.
View EventsView(const std::vector<Json::Value>& events) {
    Json::Value ac, dc, acOfCycle, dcOfCycle;
    uint64_t cycle = 0;
    Alarms alarms;
    for (const Json::Value& e : events) {
        const std::string kind = e["event"].asString();
        if (kind == "record" && e["data_id"].asUInt() == 11) ac = e;
        if (kind == "record" && e["data_id"].asUInt() == 21) dc = e;
        if (kind == "cycle") {
            cycle = e["count"].asUInt64();
            acOfCycle = ac;
            dcOfCycle = dc;
        }
        if (kind == "alarm" && e["state"] == "raised") alarms.insert(AlarmName(e));
        if (kind == "alarm" && e["state"] == "cleared") alarms.erase(AlarmName(e));
    }
    return ViewOf(cycle, Decoded(acOfCycle), Decoded(dcOfCycle), alarms);
}

// The history's newest images as trm27k-decode prints them, the alarms it
// keeps as active, and its cycle: the rows every child has, one a cycle (0
// when the children differ).
View HistoryView(const std::string& db) {
    std::string text;
    if (RunCapturing({kDecode, "--history", db}, text) != 0) return {};
    const Json::Value newest = ParseJson(text);
    const std::string rows = Sql(db, "SELECT CASE WHEN min(n) = max(n) THEN min(n) ELSE 0 END"
                                     " FROM (SELECT count(*) AS n FROM history GROUP BY data_id)");
    std::istringstream active(Sql(db, "SELECT group_concat(data_id || ' ' || key || ' ' || code,"
                                      " char(10)) FROM active_alarms"));
    Alarms alarms;
    for (std::string line; std::getline(active, line);) alarms.insert(line);
    return ViewOf(std::strtoull(rows.c_str(), nullptr, 10), Child(newest, 11), Child(newest, 21),
                  alarms);
}

std::vector<std::string> MonitorArgs(const Outputs& on, const std::string& dir,
                                     const std::string& site, int brokerPort, int httpPort) {
    const std::string base = dir + "/" + site;
    std::vector<std::string> args = {kMonitor, "--fast", "--sim-scenario", dir + "/scenario.json",
                                     "--site", site};
    if (on.history) args.insert(args.end(), {"--history", base + ".db"});
    if (on.events) {
        args.insert(args.end(),
                    {"--events", base + ".jsonl", "--events-omit", "command,rules,history"});
    }
    if (on.mqtt) {
        args.insert(args.end(), {"--mqtt", "127.0.0.1:" + std::to_string(brokerPort),
                                 "--mqtt-state-json", "--mqtt-heartbeat", "0", "--no-mqtt-discovery"});
    }
    if (on.http) args.insert(args.end(), {"--http", "127.0.0.1:" + std::to_string(httpPort)});
    return args;
}

// The files after a clean stop hold the summary's last cycle; nothing failed to be written.
void CheckFiles(const Outputs& on, const std::string& base, const View& last) {
    if (on.history) {
        EXPECT_EQ(last, HistoryView(base + ".db")) << "history";
    }
    if (!on.events) return;
    const std::vector<Json::Value> all = ReadEvents(base + ".jsonl");
    EXPECT_EQ(last, EventsView(all)) << "event file";
    const std::vector<Json::Value> storage = EventsOf(all, "storage");
    // The message is only put together on a failure, when there is a first one.
    EXPECT_TRUE(storage.empty()) << storage.size() << " storage events, the first "
                                 << storage[0].toStyledString();
}

void CheckRun(const Outputs& on, const std::string& dir, int brokerPort, const std::string& site) {
    const std::string base = dir + "/" + site, summary = base + ".out";
    const int httpPort = FreePort();
    // Subscribed before the monitor starts: every state arrives, not only the retained one.
    Subscriber sub(brokerPort, {"trm27k/" + site + "/#"}, "matrix-" + site);
    ASSERT_TRUE(sub.WaitSubscribed(kBound));
    Process monitor(MonitorArgs(on, dir, site, brokerPort, httpPort), false, base + ".err",
                    summary);
    uint64_t cycle = 0;
    const auto settled = [&] { return (cycle = SettledCycle(SummaryViews(summary))) > 0; };
    ASSERT_TRUE(WaitUntil(kBound, settled)) << "the summary never showed both alarms";

    // The cycle compared while the monitor runs: the one HTTP serves, else the settled one.
    const View http = on.http ? HttpView(httpPort) : View{};
    if (on.http) {
        ASSERT_GE(http.cycle, cycle) << "HTTP serves a cycle older than the summary showed";
        cycle = http.cycle;
    }
    ASSERT_TRUE(WaitUntil(kBound, [&] { return SummaryViews(summary).count(cycle + 1) > 0; }));
    const View want = At(SummaryViews(summary), cycle);
    // MQTT reaches the broker in its own time, but the states of that cycle must come.
    if (on.mqtt) {
        sub.WaitFor(kBound, [&](const std::vector<Received>& m) {
            return MqttView(m, site, cycle) == want;
        });
    }
    EXPECT_EQ(0, monitor.Stop(kBound));

    const std::map<uint64_t, View> views = SummaryViews(summary);
    const View last = views.empty() ? View{} : views.rbegin()->second;
    if (on.http) {
        EXPECT_EQ(want, http) << "HTTP";
    }
    if (on.mqtt) {
        EXPECT_EQ(want, MqttView(sub.Messages(), site, cycle)) << "MQTT";
    }
    CheckFiles(on, base, last);
}
}  // namespace

// Bit 0 the history file, 1 the event file, 2 MQTT, 3 HTTP: each combination once.
TEST(OutputMatrix, EveryOutputThatIsOnCarriesTheSameCycle) {
    ASSERT_FALSE(MosquittoPath().empty()) << "mosquitto (Debian package mosquitto) is missing";
    const ScratchDir scratch("matrix");
    ASSERT_FALSE(scratch.Path().empty());
    WriteFile(scratch.Path() + "/scenario.json", kScenario);
    Broker broker(scratch.Path());
    ASSERT_TRUE(broker.Start());
    for (unsigned mask = 0; mask < 16; ++mask) {
        const Outputs on{(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0, (mask & 8) != 0};
        SCOPED_TRACE(testing::Message() << "history " << on.history << ", events " << on.events
                                        << ", MQTT " << on.mqtt << ", HTTP " << on.http);
        CheckRun(on, scratch.Path(), broker.Port(), "m" + std::to_string(mask));
    }
}
