// The monitor's northbound outputs end to end, against the simulator and a
// real mosquitto: states, alarm raise and clear on a scenario change,
// discovery, /metrics through promtool and the API; then the broker stopped
// for 30 cycles while an alarm is raised and cleared, and the monitor killed
// and started again meanwhile: once the broker is back every state and both
// alarm messages arrive in order; then a frequency not provided, a failed
// module, a discharging battery and a low bus: /metrics leaves the frequency
// out, carries the states and every series the shipped dashboard asks for;
// then noise on every value with an alarm raised meanwhile: the raise goes
// out at once and, the line lost, the values at the broker are the model's
// within their thresholds; every value is left out once the line is lost
// for longer than the freshness (shortened for the test); and the Last Will
// when the monitor is killed.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "Broker.h"
#include "ProcessKit.h"

using namespace testing_support;

namespace {
const std::string kMonitor = TRM27K_MONITOR_PATH;
const std::string kSim = TRM27K_SIM_PATH;
constexpr const char* kAlarmScenario = R"({"ac": {"0": {"channels": {"0": {"c_alert": 2}}}}})";
constexpr const char* kFaultScenario =
    R"({"ac": {"0": {"channels": {"1": {"f": "20202020"}}}}, "rc": {"modules": {"1": {"fault": 1}}},
        "dc": {"0": {"m": [-12.5, 3], "n": [24.5], "v_alarm": 1}}})";
constexpr const char* kStaleAfterMs = "8000";

void ReplaceFile(const std::string& path, const std::string& text) {
    WriteFile(path + ".new", text);
    std::rename((path + ".new").c_str(), path.c_str());
}

std::string Scrape(httplib::Client& http) {
    auto answer = http.Get("/metrics");
    return answer ? answer->body : "";
}

bool Has(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }

Json::Value ReadJson(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return ParseJson(text.str());
}

// The metric names the dashboard's queries use that the exposition lacks.
std::set<std::string> MissingFromScrape(const Json::Value& node, const std::string& metrics) {
    std::set<std::string> missing;
    if (node.isObject() && node["expr"].isString()) {
        const std::string expr = node["expr"].asString();
        for (size_t at = expr.find("trm27k_"); at != std::string::npos; at = expr.find("trm27k_", at + 1)) {
            const size_t end = expr.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_", at);
            const std::string name = expr.substr(at, end - at);
            if (!Has(metrics, "\n" + name + "{") && !Has(metrics, "\n" + name + " ")) missing.insert(name);
        }
    }
    if (node.isObject() || node.isArray()) {
        for (const Json::Value& child : node) missing.merge(MissingFromScrape(child, metrics));
    }
    return missing;
}

size_t Cycles(const std::string& events) { return EventsOf(ReadEvents(events), "cycle").size(); }

size_t MqttEvents(const std::string& events, const char* state) {
    size_t n = 0;
    for (const auto& e : EventsOf(ReadEvents(events), "mqtt")) n += e["state"].asString() == state;
    return n;
}

size_t AlarmEvents(const std::string& events, const char* state) {
    size_t n = 0;
    for (const auto& a : EventsOf(ReadEvents(events), "alarm")) n += a["state"].asString() == state;
    return n;
}

// States of data id 11 by sequence number, and alarm messages (-1 raised,
// -2 cleared), in arrival order without the duplicates a reconnect may bring.
std::vector<long> Timeline(const std::vector<Received>& all) {
    std::vector<long> out;
    std::set<std::string> alarms;
    for (const Received& m : all) {
        long v = 0;
        if (m.topic == "trm27k/e2e/11/state") v = ParseJson(m.payload)["seq"].asInt64();
        if (m.topic == "trm27k/e2e/alarm" && alarms.insert(m.payload).second) {
            v = ParseJson(m.payload)["state"] == "raised" ? -1 : -2;
        }
        if (v == 0 || (v > 0 && std::find(out.begin(), out.end(), v) != out.end())) continue;
        out.push_back(v);
    }
    return out;
}

// The scenario with every analog value wandering, and with an AC voltage
// high when `alarm`.
std::string Noisy(bool alarm) {
    Json::Value v = ParseJson(kFaultScenario);
    v["noise"] = true;
    if (alarm) v["ac"]["0"]["channels"]["0"]["c_alert"] = 2;
    return Json::writeString(Json::StreamWriterBuilder(), v);
}

// How far a retained value may be from the model's: the thresholds the
// README lists (AC diff_v and diff_i 20, DC diff_v 0.1 and diff_i 20, the
// per-kind defaults), by the value's field; a fault byte exactly.
double Tolerance(const std::string& dataId, const std::string& field) {
    const bool dc = dataId == "21" || dataId == "22";
    if (field == "v" || field == "f" || field == "group_value") return dc || field != "v" ? 0.1 : 20;
    if (field == "m_values" || field == "n_values" || field == "module_value") return 1;
    return field == "fault" ? 0 : 20;
}

// Every value the model's /api/state holds that goes out on a topic of its
// own, by that topic's last two levels ("21/v", "11/ch0_a", "21/bat0_m_values").
std::map<std::string, double> ModelValues(const Json::Value& state) {
    std::map<std::string, double> out;
    const auto put = [&](const std::string& key, const Json::Value& v) {
        if (v.isNumeric()) out[key] = v.asDouble();
    };
    for (const Json::Value& child : state["children"]) {
        const std::string id = std::to_string(child["data_id"].asUInt()) + "/";
        const Json::Value& values = child["values"];
        for (const char* f : {"ia", "ib", "ic", "v", "i", "group_value"}) put(id + f, values[f]);
        for (Json::ArrayIndex k = 0; k < values["channels"].size(); ++k) {
            for (const char* f : {"a", "b", "c", "f"}) put(id + "ch" + std::to_string(k) + "_" + f, values["channels"][k][f]);
        }
        for (const char* f : {"m_values", "n_values"}) {
            const Json::ArrayIndex n = std::min(values[f].size(), values[f == std::string("m_values") ? "dc_m" : "dc_n"].asUInt());
            for (Json::ArrayIndex k = 0; k < n; ++k) put(id + "bat" + std::to_string(k) + "_" + f, values[f][k]);
        }
        for (Json::ArrayIndex k = 0; k < values["modules"].size(); ++k) {
            for (const char* f : {"module_value", "fault"}) put(id + "mod" + std::to_string(k) + "_" + f, values["modules"][k][f]);
        }
    }
    return out;
}

// What the broker holds on the value topics: the last payload of each, an
// empty one (a value removed) taking it away.
std::map<std::string, double> BrokerValues(const std::vector<Received>& all) {
    std::map<std::string, double> out;
    const std::string base = "trm27k/e2e/";
    for (const Received& m : all) {
        const std::string key = m.topic.substr(base.size());
        const std::string last = key.substr(key.find('/') + 1);
        if (last == "state" || last == "availability" || last == "values") continue;
        if (m.payload.empty()) out.erase(key);
        else out[key] = std::stod(m.payload);
    }
    return out;
}

// The values at the broker that are further from the model than their threshold, or missing on one side.
std::vector<std::string> Disagreements(const std::map<std::string, double>& model, const std::map<std::string, double>& broker) {
    std::vector<std::string> out;
    for (const auto& [key, value] : model) {
        const auto at = broker.find(key);
        const std::string field = key.substr(key.find('_') == std::string::npos ? key.find('/') + 1 : key.find('_') + 1);
        if (at == broker.end() || std::fabs(at->second - value) >= std::max(Tolerance(key.substr(0, key.find('/')), field), 1e-9)) {
            out.push_back(key + (at == broker.end() ? " missing" : " " + std::to_string(at->second)) + " vs " + std::to_string(value));
        }
    }
    for (const auto& [key, value] : broker) {
        if (!model.count(key)) out.push_back(key + " not in the model");
    }
    return out;
}

std::string LastPayload(const std::vector<Received>& all, const std::string& topic) {
    std::string last;
    for (const auto& m : all) if (m.topic == topic) last = m.payload;
    return last;
}
}  // namespace

TEST(NorthboundEndToEnd, StatesAlarmsMetricsAndStoreAndForward) {
    ASSERT_FALSE(MosquittoPath().empty()) << "mosquitto (Debian package mosquitto) is missing";
    ASSERT_EQ(0, std::system("command -v promtool >/dev/null")) << "promtool (Debian package prometheus) is missing";
    const ScratchDir scratch("northbound");
    const std::string& dir = scratch.Path();
    const std::string events = dir + "/events.jsonl";
    const std::string scenario = dir + "/scenario.json";
    Broker broker(dir);
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(),
                   {"trm27k/e2e/status", "trm27k/e2e/alarm", "trm27k/e2e/11/state", "trm27k/e2e/21/state",
                    "trm27k/e2e/22/state", "homeassistant/sensor/trm27k_e2e_11/#"},
                   "e2e-sub");
    WriteFile(scenario, "{}");
    Process sim({kSim, "--pty", "--scenario", scenario}, true);
    ASSERT_FALSE(sim.FirstLine().empty());
    const int httpPort = FreePort();
    const std::vector<std::string> monitorArgs = {
        kMonitor, "--fast", "--quiet", "--port", sim.FirstLine(), "--events", events,
        "--events-rules", "changes", "--events-omit", "command,record,history", "--history",
        dir + "/h.db", "--site", "e2e", "--mqtt", "127.0.0.1:" + std::to_string(broker.Port()),
        "--mqtt-state-json", "--mqtt-heartbeat", "0", "--http", "127.0.0.1:" + std::to_string(httpPort)};
    const auto startMonitor = [&] {
        setenv("TRM27K_TEST_STALE_AFTER_MS", kStaleAfterMs, 1);
        auto started = std::make_unique<Process>(monitorArgs);
        unsetenv("TRM27K_TEST_STALE_AFTER_MS");
        return started;
    };
    auto monitor = startMonitor();
    ASSERT_TRUE(sub.WaitFor(20, [](const std::vector<Received>& m) {
        return CountTopic(m, "trm27k/e2e/22/state") > 0 &&
               CountTopic(m, "homeassistant/sensor/trm27k_e2e_11/ch2_c/config") > 0;
    }));
    EXPECT_EQ("online", LastPayload(sub.Messages(), "trm27k/e2e/status"));
    const Json::Value dc = ParseJson(LastPayload(sub.Messages(), "trm27k/e2e/21/state"));
    EXPECT_NEAR(53.5, dc["v"].asDouble(), 0.01);
    EXPECT_EQ("V", dc["units"]["v"].asString());

    // The HTTP outputs carry the simulator's values.
    httplib::Client http("127.0.0.1", httpPort);
    auto metrics = http.Get("/metrics");
    ASSERT_TRUE(metrics);
    const std::string metricsFile = dir + "/metrics.txt";
    WriteFile(metricsFile, metrics->body);
    EXPECT_EQ(0, std::system(("promtool check metrics < " + metricsFile).c_str()));
    EXPECT_NE(std::string::npos,
              metrics->body.find("trm27k_dc_voltage_volts{site=\"e2e\",data_id=\"21\"} 53.5\n"));
    EXPECT_NE(std::string::npos, metrics->body.find("trm27k_link_up{site=\"e2e\"} 1\n"));
    EXPECT_NE(std::string::npos, metrics->body.find("trm27k_mqtt_connected{site=\"e2e\"} 1\n"));
    const Json::Value state = ParseJson(http.Get("/api/state")->body);
    EXPECT_EQ(5u, state["children"].size());
    const Json::Value history = ParseJson(http.Get("/api/history?data_id=11&field=channels.0.a&limit=3")->body);
    ASSERT_EQ(3u, history["rows"].size());
    EXPECT_NEAR(230.1, history["rows"][2]["value"].asDouble(), 0.01);

    // The broker goes away for 30 cycles; an alarm is raised and cleared
    // meanwhile. Its loss is told once, with the uplink's state.
    broker.Stop();
    ASSERT_TRUE(WaitUntil(20, [&] { return MqttEvents(events, "down") == 1; }));
    EXPECT_FALSE(ParseJson(http.Get("/api/state")->body)["mqtt_connected"].asBool());
    const size_t before = Cycles(events);
    ReplaceFile(scenario, kAlarmScenario);
    ASSERT_TRUE(WaitUntil(20, [&] { return AlarmEvents(events, "raised") == 1; }));
    ReplaceFile(scenario, "{}");
    ASSERT_TRUE(WaitUntil(20, [&] { return AlarmEvents(events, "cleared") == 1; }));
    ASSERT_TRUE(WaitUntil(30, [&] { return Cycles(events) >= before + 30; }));
    // Killed and started again while the broker is still away: the new run
    // sends what the killed one left, then its own cycles.
    monitor->Kill();
    const size_t beforeRestart = Cycles(events);
    monitor = startMonitor();
    ASSERT_TRUE(WaitUntil(30, [&] { return Cycles(events) >= beforeRestart + 10; }));
    const long lastCycle = static_cast<long>(Cycles(events)) - 1;
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(sub.WaitFor(60, [&](const std::vector<Received>& m) {
        const auto t = Timeline(m);
        return std::count(t.begin(), t.end(), -2) == 1 && !t.empty() && *std::max_element(t.begin(), t.end()) >= lastCycle;
    })) << "waited for cycle " << lastCycle << "; got " << Timeline(sub.Messages()).size() << " up to "
        << (Timeline(sub.Messages()).empty() ? 0 : Timeline(sub.Messages()).back());
    EXPECT_TRUE(WaitUntil(20, [&] { return MqttEvents(events, "up") >= 1; }));
    EXPECT_EQ(2u, MqttEvents(events, "down")) << "one per run while the broker was away";
    // Every state from the first on, one per cycle, in order, the raise and then the clear among them.
    const std::vector<long> timeline = Timeline(sub.Messages());
    long expected = 1;
    int alarms = 0;
    for (const long v : timeline) {
        if (v < 0) {
            EXPECT_EQ(-1 - alarms, v);
            ++alarms;
            continue;
        }
        EXPECT_EQ(expected, v);
        expected = v + 1;
    }
    EXPECT_EQ(2, alarms);

    // What the power system did not provide is left out, states are 0 or 1,
    // and the dashboard finds every series it asks for.
    ReplaceFile(scenario, kFaultScenario);
    std::string text;
    ASSERT_TRUE(WaitUntil(20, [&] {
        text = Scrape(http);
        return Has(text, "trm27k_alarm_active{site=\"e2e\",data_id=\"21\",") &&
               Has(text, "module=\"2\"} 1\n") && !Has(text, "data_id=\"11\",channel=\"2\"} 50");
    })) << text;
    WriteFile(metricsFile, text);
    EXPECT_EQ(0, std::system(("promtool check metrics < " + metricsFile).c_str()));
    EXPECT_TRUE(Has(text, "trm27k_ac_input_frequency_hertz{site=\"e2e\",data_id=\"11\",channel=\"1\"} 50\n"));
    EXPECT_FALSE(Has(text, "trm27k_ac_input_frequency_hertz{site=\"e2e\",data_id=\"11\",channel=\"2\"}"));
    EXPECT_TRUE(Has(text, "trm27k_rectifier_module_fault{site=\"e2e\",data_id=\"1\",module=\"1\"} 0\n"));
    EXPECT_TRUE(Has(text, "trm27k_rectifier_module_fault{site=\"e2e\",data_id=\"1\",module=\"2\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_battery_current_amperes{site=\"e2e\",data_id=\"21\",battery=\"1\"} -12.5\n"));
    EXPECT_FALSE(Has(text, "trm27k_battery_temperature_celsius{site=\"e2e\",data_id=\"21\",battery=\"2\"}"));
    EXPECT_TRUE(Has(text, "trm27k_dc_voltage_alarm{site=\"e2e\",data_id=\"21\",state=\"low\"} 1\n"));
    EXPECT_TRUE(Has(text, "trm27k_device_info{site=\"e2e\",model=\"TRM27K\"} 1\n"));
    EXPECT_EQ(std::set<std::string>{}, MissingFromScrape(ReadJson(TRM27K_DASHBOARD_PATH), text));
    const Json::Value ac = ParseJson(http.Get("/api/state")->body)["children"][0];
    EXPECT_FALSE(ac["values"]["channels"][1].isMember("f"));
    EXPECT_FALSE(ac["stale"].asBool());

    // Noise on every analog value for 30 cycles, an AC voltage going high
    // in the middle: the raise arrives before any state two cycles newer than
    // the one it was raised on, whatever the values sent meanwhile.
    size_t mark = Cycles(events);
    ReplaceFile(scenario, Noisy(false));
    ASSERT_TRUE(WaitUntil(30, [&] { return Cycles(events) >= mark + 15; }));
    const size_t alarmsBefore = CountTopic(sub.Messages(), "trm27k/e2e/alarm");
    ReplaceFile(scenario, Noisy(true));
    ASSERT_TRUE(sub.WaitFor(20, [&](const std::vector<Received>& m) {
        return CountTopic(m, "trm27k/e2e/alarm") > alarmsBefore;
    }));
    mark = Cycles(events);
    ASSERT_TRUE(WaitUntil(30, [&] { return Cycles(events) >= mark + 15; }));
    {
        const std::vector<Received> all = sub.Messages();
        long newestState = 0;
        size_t seen = 0;
        for (const Received& m : all) {
            if (m.topic == "trm27k/e2e/11/state") newestState = std::max(newestState, static_cast<long>(ParseJson(m.payload)["seq"].asInt64()));
            if (m.topic != "trm27k/e2e/alarm" || ++seen <= alarmsBefore) continue;
            const Json::Value raise = ParseJson(m.payload);
            EXPECT_EQ("raised", raise["state"].asString());
            EXPECT_LE(newestState, raise["seq"].asInt64() + 1) << "the raise waited behind later cycles";
            break;
        }
    }

    // The line lost, the model holds its last values: every value at the
    // broker is the model's within its threshold, and nothing more.
    EXPECT_EQ(0, sim.Stop());
    Subscriber values(broker.Port(), {"trm27k/e2e/+/+"}, "e2e-values");
    std::vector<std::string> disagree;
    size_t modelValues = 0;
    EXPECT_TRUE(WaitUntil(20, [&] {
        const Json::Value now = ParseJson(http.Get("/api/state")->body);
        const auto model = ModelValues(now);
        modelValues = model.size();
        disagree = Disagreements(model, BrokerValues(values.Messages()));
        return now["counters"]["outbox_messages"].asUInt64() == 0 && disagree.empty() && modelValues >= 40;
    })) << modelValues << " values in the model; " << ::testing::PrintToString(disagree);

    // Once the values are older than the freshness they are gone, when they
    // were last published stays. The rectifier group publishes last in a cycle,
    // so it goes stale last.
    ASSERT_TRUE(WaitUntil(40, [&] {
        text = Scrape(http);
        return !Has(text, "trm27k_dc_voltage_volts{") && !Has(text, "trm27k_rectifier_module_fault{");
    })) << text;
    EXPECT_TRUE(Has(text, "trm27k_link_up{site=\"e2e\"} 0\n"));
    EXPECT_FALSE(Has(text, "trm27k_ac_input_voltage_volts{"));
    EXPECT_TRUE(Has(text, "trm27k_last_update_timestamp_seconds{site=\"e2e\",data_id=\"21\"} "));
    const Json::Value stale = ParseJson(http.Get("/api/state")->body)["children"][0];
    EXPECT_TRUE(stale["stale"].asBool());
    EXPECT_GE(stale["age_s"].asInt64(), 8);

    // Killed: the broker publishes the Last Will.
    monitor.reset();
    EXPECT_TRUE(sub.WaitFor(40, [](const std::vector<Received>& m) {
        std::string last;
        for (const auto& x : m) if (x.topic == "trm27k/e2e/status") last = x.payload;
        return last == "offline";
    }));
}
