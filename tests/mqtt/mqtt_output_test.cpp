// The MQTT output against a real mosquitto: states, alarms, availability and
// discovery; and store-and-forward: with the broker down for 30 cycles, across
// a restart of the output, every state and both alarm messages arrive in order
// once the broker is back.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "Broker.h"
#include "JsonText.h"
#include "ScratchDir.h"
#include "SiteImages.h"
#include "history_store.h"
#include "mqtt_output.h"

using namespace testing_support;

namespace {
rule_value HighVoltage(bool active) { return Rule("AC_4", "交流屏1输入线/相电压AB/A", active, 11); }

// One poll cycle of a site with one AC screen (the voltage tells the cycles
// apart) and one DC screen.
void Cycle(site::SiteModel& model, int k) {
    const auto ac = AcImage(11, 1, 200.0f + static_cast<float>(k), 5.0f);
    const auto dc = DcImage(21, 53.5f, 12.0f);
    model.OnRecord(11, "trm27k-ac", 5175, ac.data(), ac.size(), "2026-12-09T10:00:00");
    model.OnRecord(21, "trm27k-dc", 5176, dc.data(), dc.size(), "2026-12-09T10:00:00");
    model.OnCycleEnd(0.01, "2026-12-09T10:00:00");
}

mqtt::MqttSettings Settings(int port) {
    mqtt::MqttSettings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.site = "north";
    s.maxBackoffSeconds = 1;
    s.stateJson = true;
    return s;
}

std::string LastOf(const std::vector<Received>& all, const std::string& topic) {
    std::string last;
    for (const Received& m : all) if (m.topic == topic) last = m.payload;
    return last;
}

// The sequence numbers of the states of data id 11, in arrival order, with -1
// for an alarm raise and -2 for a clear.
std::vector<long> Timeline(const std::vector<Received>& all) {
    std::vector<long> out;
    for (const Received& m : all) {
        if (m.topic == "trm27k/north/11/state") out.push_back(ParseJson(m.payload)["seq"].asInt64());
        if (m.topic == "trm27k/north/alarm") out.push_back(ParseJson(m.payload)["state"] == "raised" ? -1 : -2);
    }
    return out;
}
}  // namespace

TEST(MqttOutput, PublishesStatesAlarmsAvailabilityAndDiscovery) {
    ASSERT_FALSE(MosquittoPath().empty()) << "mosquitto (Debian package mosquitto) is missing";
    const ScratchDir scratch("mqtt-live");
    const std::string& dir = scratch.Path();
    Broker broker(dir);
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), {"trm27k/#", "homeassistant/#"}, "live-sub");
    site::SiteModel model("north");
    mqtt::MqttOutput output(model, Settings(broker.Port()), "0.1.0");
    std::atomic<int64_t> clockAheadMs{0};
    output.SetClock([&clockAheadMs] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch()).count() + clockAheadMs.load();
    });
    model.AddListener(&output);
    std::string error;
    ASSERT_TRUE(output.Start(dir + "/history.db", error)) << error;
    model.SetLink(true);
    // Connected first: the connect's refresh of every value is the first cycle's.
    ASSERT_TRUE(sub.WaitFor(10, [](const std::vector<Received>& m) { return LastOf(m, "trm27k/north/status") == "online"; }));
    Cycle(model, 0);
    model.OnRules({HighVoltage(true)}, "2026-12-09T10:00:01");
    model.OnRules({HighVoltage(false)}, "2026-12-09T10:00:05");
    ASSERT_TRUE(sub.WaitFor(10, [](const std::vector<Received>& m) {
        // The active-alarm list goes out at the first cycle too, for the alarm sensors.
        return CountTopic(m, "trm27k/north/alarm") == 2 && CountTopic(m, "trm27k/north/alarms") == 3 &&
               CountTopic(m, "trm27k/north/21/state") == 1 && CountTopic(m, "trm27k/north/11/availability") == 1;
    }));
    const auto all = sub.Messages();
    const auto find = [&](const std::string& topic) {
        for (const auto& m : all) if (m.topic == topic) return m;
        return Received{};
    };
    EXPECT_EQ("online", find("trm27k/north/status").payload);
    const Json::Value state = ParseJson(find("trm27k/north/11/state").payload);
    EXPECT_FLOAT_EQ(200.0f, state["channels"][0]["a"].asFloat());
    EXPECT_EQ("V", state["units"]["a"].asString());
    EXPECT_EQ(1, state["seq"].asInt());
    Json::Value cleared;
    for (const auto& m : all) if (m.topic == "trm27k/north/alarm") cleared = ParseJson(m.payload);
    EXPECT_EQ("cleared", cleared["state"].asString());
    EXPECT_EQ("2026-12-09T10:00:01", cleared["raised"].asString());
    EXPECT_EQ("2026-12-09T10:00:05", cleared["cleared"].asString());
    EXPECT_EQ("AC_4", cleared["key"].asString());
    const Json::Value config = ParseJson(find("homeassistant/sensor/trm27k_north_11/ch0_a/config").payload);
    EXPECT_EQ("voltage", config["device_class"].asString());
    EXPECT_EQ("V", config["unit_of_measurement"].asString());
    EXPECT_EQ("measurement", config["state_class"].asString());
    EXPECT_EQ("trm27k/north/11/ch0_a", config["state_topic"].asString());
    EXPECT_EQ("200.0", find("trm27k/north/11/ch0_a").payload);
    EXPECT_EQ("53.5", find("trm27k/north/21/v").payload);
    EXPECT_EQ("Channel 1 phase A voltage", config["name"].asString());
    EXPECT_EQ("trm27k/north/status", config["availability"][0]["topic"].asString());
    EXPECT_EQ("trm27k/north/11/availability", config["availability"][1]["topic"].asString());
    EXPECT_EQ("all", config["availability_mode"].asString());
    EXPECT_EQ("trm27k_north_11", config["device"]["identifiers"][0].asString());
    EXPECT_EQ("online", find("trm27k/north/11/availability").payload);
    const Json::Value alarm = ParseJson(find("homeassistant/binary_sensor/trm27k_north_11/alarm_AC_4/config").payload);
    EXPECT_EQ("AC input voltage high", alarm["name"].asString());
    EXPECT_EQ("trm27k/north/alarms", alarm["state_topic"].asString());

    // No cycle for the freshness rule's 61 s: the values turn unavailable
    // without any cycle, and available again with the next one.
    clockAheadMs = site::kStaleAfterMs;
    EXPECT_TRUE(sub.WaitFor(10, [](const std::vector<Received>& m) {
        return LastOf(m, "trm27k/north/11/availability") == "offline";
    }));
    clockAheadMs = 0;
    Cycle(model, 1);
    EXPECT_TRUE(sub.WaitFor(10, [](const std::vector<Received>& m) {
        return CountTopic(m, "trm27k/north/11/availability") == 3 &&
               LastOf(m, "trm27k/north/11/availability") == "online";
    }));
    // 1 V is below the AC diff_v: the value stays as reported, until a
    // consumer asks for every value.
    EXPECT_EQ(1u, CountTopic(sub.Messages(), "trm27k/north/11/ch0_a"));
    std::system(("mosquitto_pub -p " + std::to_string(broker.Port()) + " -t trm27k/north/refresh -m all").c_str());
    // The request arrives at some cycle: one a second until it did.
    bool refreshed = false;
    for (int k = 0; k < 10 && !refreshed; ++k) {
        Cycle(model, 2);
        refreshed = sub.WaitFor(1, [](const std::vector<Received>& m) { return CountTopic(m, "trm27k/north/21/v") == 2; });
    }
    ASSERT_TRUE(refreshed);
    EXPECT_EQ("202.0", LastOf(sub.Messages(), "trm27k/north/11/ch0_a"));
    EXPECT_EQ(2u, CountTopic(sub.Messages(), "trm27k/north/11/ch0_a"));
    EXPECT_EQ(1u, CountTopic(all, "homeassistant/sensor/trm27k_north_21/v/config"));

    // The broker restarts with its store, configs and marker kept: after the
    // reconnect only what changed meanwhile goes out (the configs of a second
    // DC screen), then a new marker. A broker that lost its store gets every
    // config again, then the marker.
    const auto live = [](const std::vector<Received>& m, const std::string& topic) {
        return std::count_if(m.begin(), m.end(), [&](const Received& r) { return r.topic == topic && !r.retained; });
    };
    const std::string marker = "trm27k/north/discovery";
    const std::string bus = "homeassistant/sensor/trm27k_north_21/v/config";
    auto markers = live(sub.Messages(), marker);
    ASSERT_GE(markers, 1);
    broker.Stop();
    ASSERT_TRUE(broker.Start());
    const auto dc22 = DcImage(22, 53.4f, 11.0f);
    model.OnRecord(22, "trm27k-dc", 5176, dc22.data(), dc22.size(), "2026-12-09T10:00:02");
    Cycle(model, 2);
    ASSERT_TRUE(sub.WaitFor(20, [&](const std::vector<Received>& m) { return live(m, marker) > markers; }));
    EXPECT_EQ(1, live(sub.Messages(), bus));
    EXPECT_EQ(1, live(sub.Messages(), "homeassistant/sensor/trm27k_north_22/v/config"));
    broker.Stop();
    std::filesystem::remove(dir + "/mosquitto.db");
    ASSERT_TRUE(broker.Start());
    Subscriber fresh(broker.Port(), {"homeassistant/#", marker}, "fresh-sub");
    EXPECT_TRUE(fresh.WaitFor(20, [&](const std::vector<Received>& m) { return CountTopic(m, marker) > 0; }));
    EXPECT_EQ(1u, CountTopic(fresh.Messages(), bus));
    ASSERT_TRUE(sub.WaitSubscribed(10));

    // Home Assistant restarts: discovery again. The line goes down: offline.
    const size_t configs = CountTopic(all, "homeassistant/sensor/trm27k_north_21/v/config");
    std::system(("mosquitto_pub -p " + std::to_string(broker.Port()) + " -t homeassistant/status -m online").c_str());
    model.SetLink(false);
    EXPECT_TRUE(sub.WaitFor(10, [&](const std::vector<Received>& m) {
        return CountTopic(m, "homeassistant/sensor/trm27k_north_21/v/config") > configs &&
               LastOf(m, "trm27k/north/status") == "offline";
    }));
}

TEST(MqttOutput, StoresAndForwardsThroughABrokerOutageAndARestart) {
    ASSERT_FALSE(MosquittoPath().empty()) << "mosquitto (Debian package mosquitto) is missing";
    const ScratchDir scratch("mqtt-outage");
    const std::string& dir = scratch.Path();
    const std::string db = dir + "/history.db";
    Broker broker(dir);
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), {"trm27k/#"}, "outage-sub");
    mqtt::MqttSettings settings = Settings(broker.Port());
    settings.heartbeatSeconds = 0;  // every state, so every cycle can be counted
    uint64_t lastSeq = 0;
    std::string error;
    {
        site::SiteModel model("north");
        mqtt::MqttOutput output(model, settings, "0.1.0");
        model.AddListener(&output);
        ASSERT_TRUE(output.Start(db, error)) << error;
        model.SetLink(true);
        Cycle(model, 1);
        ASSERT_TRUE(sub.WaitFor(10, [](const std::vector<Received>& m) {
            return CountTopic(m, "trm27k/north/11/state") == 1;
        }));
        broker.Stop();
        for (int k = 2; k <= 16; ++k) {
            Cycle(model, k);
            if (k == 10) model.OnRules({HighVoltage(true)}, "2026-12-09T10:00:10");
        }
        output.Stop();  // a restart while the broker is still down
        lastSeq = output.LastSeq();
    }
    EXPECT_EQ(16u, lastSeq);
    site::SiteModel model("north");
    mqtt::MqttOutput output(model, settings, "0.1.0");
    model.AddListener(&output);
    ASSERT_TRUE(output.Start(db, error)) << error;
    model.StartSequenceAt(output.LastSeq());
    model.RestoreRules({{HighVoltage(true), "2026-12-09T10:00:10", "trm27k-ac"}});  // as the history tells it
    model.SetLink(true);
    for (int k = 17; k <= 31; ++k) {
        Cycle(model, k);
        if (k == 20) model.OnRules({HighVoltage(false)}, "2026-12-09T10:00:20");
    }
    std::vector<long> expected;
    for (long k = 1; k <= 31; ++k) {
        expected.push_back(k);
        if (k == 10) expected.push_back(-1);
        if (k == 20) expected.push_back(-2);
    }
    // In order, none lost; a duplicate (a retained state sent again on
    // resubscribing, or a message resent after a reconnect) is dropped by its number.
    const auto deduplicated = [](const std::vector<Received>& all) {
        std::vector<long> seen;
        for (long v : Timeline(all)) {
            if (v > 0 && std::find(seen.begin(), seen.end(), v) != seen.end()) continue;
            seen.push_back(v);
        }
        return seen;
    };
    ASSERT_TRUE(broker.Start());
    sub.WaitFor(30, [&](const std::vector<Received>& m) { return deduplicated(m).size() >= expected.size(); });
    const std::vector<long> seen = deduplicated(sub.Messages());
    EXPECT_EQ(expected, seen);
    EXPECT_TRUE(sub.WaitFor(10, [&](const std::vector<Received>&) { return output.GetStats().acknowledged > 0; }));
    EXPECT_TRUE(sub.WaitFor(10, [&](const std::vector<Received>&) {
        return model.Current()->outboxMessages == 0;
    }));
}

namespace {
// The sequence numbers of the data id 11 states in the outbox, oldest first.
std::vector<long> OutboxStates(const std::string& db) {
    std::vector<long> seqs;
    sqlite3* c = nullptr;
    sqlite3_stmt* s = nullptr;
    sqlite3_open_v2(db.c_str(), &c, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_prepare_v2(c, "SELECT payload FROM outbox WHERE topic = 'trm27k/north/11/state' ORDER BY id",
                       -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW) {
        const std::string payload(static_cast<const char*>(sqlite3_column_blob(s, 0)),
                                  static_cast<size_t>(sqlite3_column_bytes(s, 0)));
        seqs.push_back(ParseJson(payload)["seq"].asInt64());
    }
    sqlite3_finalize(s);
    sqlite3_close(c);
    return seqs;
}
}  // namespace

// Staged in the history's transaction: the outbox holds a cycle's messages
// only once the history committed that cycle; a transaction rolled back
// brings its messages to the next one, none lost and none doubled; a cycle
// the history has not reached yet waits for its transaction.
TEST(MqttOutput, OutboxRowsCommitWithTheHistoryAndOnlyThen) {
    const ScratchDir scratch("mqtt-history");
    const std::string db = scratch.Path() + "/history.db";
    std::string error;
    history::HistoryStore store;
    ASSERT_TRUE(store.Open(db, error)) << error;
    site::SiteModel model("north");
    mqtt::MqttSettings settings = Settings(FreePort());  // no broker: everything stays
    settings.heartbeatSeconds = 0;
    mqtt::MqttOutput out(model, settings, "test");
    int writesAsked = 0;
    out.StageWithHistory([&writesAsked](uint64_t) { ++writesAsked; });
    bool diskFull = false;
    store.AddCommitHook([&out](sqlite3* c, uint64_t seq, std::string& e) { return out.StageWithin(c, seq, e); },
                        [&out](bool committed) { out.AfterCommit(committed); });
    store.AddCommitHook([&diskFull](sqlite3*, uint64_t, std::string& e) {
        if (diskFull) e = "database or disk is full";
        return !diskFull;
    });
    ASSERT_TRUE(out.Start(db, error)) << error;
    model.AddListener(&out);

    const auto upTo = [](uint64_t seq) {
        history::Batch b;
        b.seq = seq;
        return b;
    };
    Cycle(model, 1);
    ASSERT_TRUE(store.Write(upTo(1), error)) << error;
    EXPECT_EQ((std::vector<long>{1}), OutboxStates(db));
    Cycle(model, 2);
    diskFull = true;
    EXPECT_FALSE(store.Write(upTo(2), error));
    EXPECT_EQ((std::vector<long>{1}), OutboxStates(db)) << "nothing of a rolled-back cycle";
    diskFull = false;
    Cycle(model, 3);
    Cycle(model, 4);
    ASSERT_TRUE(store.Write(upTo(3), error)) << error;
    EXPECT_EQ((std::vector<long>{1, 2, 3}), OutboxStates(db)) << "cycle 4 waits for its own transaction";
    ASSERT_TRUE(store.Write(upTo(4), error)) << error;
    EXPECT_EQ((std::vector<long>{1, 2, 3, 4}), OutboxStates(db));
    EXPECT_EQ(4, writesAsked) << "every cycle asks the history to write it at once";
    out.Stop();
    mqtt::MqttOutput restarted(model, settings, "test");
    ASSERT_TRUE(restarted.Start(db, error)) << error;
    EXPECT_EQ(4u, restarted.LastSeq()) << "a restart continues after the committed cycles";
    restarted.Stop();
}
