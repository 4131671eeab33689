// The monitor against the simulator over a pseudo-terminal, end to end.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "ProcessKit.h"
#include "history_store.h"

using namespace testing_support;

namespace {
const std::string kMonitor = TRM27K_MONITOR_PATH;
const std::string kSim = TRM27K_SIM_PATH;

struct MonitorRun {
    int status;
    std::vector<Json::Value> events;
};

// Runs the monitor with the built-in simulator (or `extra` arguments) to its end.
MonitorRun Monitor(const std::string& dir, std::vector<std::string> extra, double seconds = 60) {
    std::vector<std::string> args = {kMonitor, "--fast", "--quiet", "--events", dir + "/events.jsonl"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::remove((dir + "/events.jsonl").c_str());  // appended to: start each run afresh
    Process p(args);
    const int status = p.Wait(seconds);
    return {status, ReadEvents(dir + "/events.jsonl")};
}

std::vector<int> StepsOfFirstCycle(const std::vector<Json::Value>& events) {
    std::vector<int> steps;
    for (const auto& e : events) {
        if (e["event"] == "cycle") break;
        if (e["event"] == "command") steps.push_back(e["step"].asInt());
    }
    return steps;
}
}  // namespace

TEST(MonitorEndToEnd, PollsTheSimulatorAndPublishesEveryChild) {
    const ScratchDir scratch("poll");
    const std::string& dir = scratch.Path();
    const MonitorRun run = Monitor(dir, {"--cycles", "3", "--history", dir + "/h.db"});
    ASSERT_EQ(0, run.status);
    EXPECT_EQ((std::vector<int>{14, 0, 1, 2, 4, 5, 6, 7, 8, 3, 9}), StepsOfFirstCycle(run.events));
    EXPECT_EQ(3u, EventsOf(run.events, "cycle").size());
    std::map<std::pair<unsigned, int>, size_t> lengths;
    for (const auto& r : EventsOf(run.events, "record")) {
        lengths[std::make_pair(r["data_id"].asUInt(), r["type"].asInt())] = r["length"].asUInt();
        EXPECT_EQ(2 * r["length"].asUInt(), r["image"].asString().size());
    }
    const std::map<std::pair<unsigned, int>, size_t> expected = {
        {{11, 5175}, 522}, {{12, 5175}, 522}, {{21, 5176}, 450}, {{22, 5176}, 450}, {{1, 5177}, 641}};
    EXPECT_EQ(expected, lengths);
    EXPECT_EQ(15u, EventsOf(run.events, "rules").size());
    EXPECT_TRUE(EventsOf(run.events, "frame_error").empty());
    history::HistoryStore store;
    std::string error;
    ASSERT_TRUE(store.OpenReadOnly(dir + "/h.db", error)) << error;
    EXPECT_EQ(3, store.CountImages(11, "trm27k-ac"));
    EXPECT_EQ(3, store.CountImages(22, "trm27k-dc"));
    EXPECT_EQ(3, store.CountImages(1, "trm27k-rc"));
}

TEST(MonitorEndToEnd, RestartAnswersQueriesFromTheRestoredHistory) {
    const ScratchDir scratch("restore");
    const std::string& dir = scratch.Path();
    const std::vector<std::string> queries = {"--query", "11:channel_0_a", "--query", "21:v",
                                              "--query", "11:channel_9_a"};
    std::vector<std::string> first = {"--cycles", "1", "--history", dir + "/h.db"};
    ASSERT_EQ(0, Monitor(dir, first).status);
    std::vector<std::string> second = {"--cycles", "0", "--history", dir + "/h.db"};
    second.insert(second.end(), queries.begin(), queries.end());
    const MonitorRun run = Monitor(dir, second);
    ASSERT_EQ(0, run.status);
    const auto values = EventsOf(run.events, "value");
    ASSERT_EQ(3u, values.size());
    EXPECT_NEAR(230.1, values[0]["value"].asDouble(), 0.01);
    EXPECT_NEAR(53.5, values[1]["value"].asDouble(), 0.01);
    EXPECT_EQ("通道参数越界", values[2]["error"].asString());
    EXPECT_TRUE(EventsOf(run.events, "command").empty());
    // Without history nothing is ready.
    const MonitorRun empty = Monitor(dir, {"--cycles", "0", "--query", "21:v"});
    EXPECT_EQ("数据未就绪", EventsOf(empty.events, "value").at(0)["error"].asString());
}

TEST(MonitorEndToEnd, AlarmsAreRaisedAndClearedWhenTheScenarioChanges) {
    const ScratchDir scratch("alarms");
    const std::string& dir = scratch.Path();
    const std::string scenario = dir + "/scenario.json";
    WriteFile(scenario, R"({"ac": {"0": {"channels": {"0": {"c_alert": 2}}}}, "dc": {"1": {"v_alarm": 1}}})");
    Process sim({kSim, "--pty", "--scenario", scenario}, true);
    ASSERT_FALSE(sim.FirstLine().empty());
    // Only what the test reads goes to the event file: it stays small, so
    // it never rotates and reading it again and again stays quick.
    Process monitor({kMonitor, "--fast", "--quiet", "--port", sim.FirstLine(), "--events",
                     dir + "/events.jsonl", "--events-rules", "changes", "--events-omit",
                     "command,record,history"});
    const auto waitCycles = [&](size_t n) {
        for (int i = 0; i < 500; ++i) {
            if (EventsOf(ReadEvents(dir + "/events.jsonl"), "cycle").size() >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    };
    ASSERT_TRUE(waitCycles(2));
    WriteFile(scenario, "{}");
    const size_t cyclesAtChange = EventsOf(ReadEvents(dir + "/events.jsonl"), "cycle").size();
    ASSERT_TRUE(waitCycles(cyclesAtChange + 3));
    // The simulator sees the new file at its next wake-up, which on a busy
    // machine can come after several fast cycles: wait (bounded) for the clears.
    for (int i = 0; i < 500; ++i) {
        size_t cleared = 0;
        for (const auto& a : EventsOf(ReadEvents(dir + "/events.jsonl"), "alarm")) {
            cleared += a["state"] == "cleared";
        }
        if (cleared >= 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(0, monitor.Stop());
    EXPECT_EQ(0, sim.Stop());
    // The file may change between the replies of one cycle, so each alarm is
    // checked on its own: raised once, then cleared once.
    std::map<std::string, std::vector<std::string>> changes;
    for (const auto& a : EventsOf(ReadEvents(dir + "/events.jsonl"), "alarm")) {
        changes[a["data_id"].asString() + " " + a["key"].asString()].push_back(a["state"].asString());
    }
    const std::vector<std::string> raisedThenCleared = {"raised", "cleared"};
    EXPECT_EQ(2u, changes.size());
    EXPECT_EQ(raisedThenCleared, changes["11 AC_6"]);
    EXPECT_EQ(raisedThenCleared, changes["22 DC_0"]);
}

TEST(MonitorEndToEnd, FrameErrorsAndTimeoutsAreSurvived) {
    const ScratchDir scratch("faults");
    const std::string& dir = scratch.Path();
    Process sim({kSim, "--pty", "--seed", "7", "--drop", "15", "--corrupt", "10", "--truncate", "5",
                 "--wrong-rtn", "5"}, true);
    ASSERT_FALSE(sim.FirstLine().empty());
    const MonitorRun run = Monitor(dir, {"--port", sim.FirstLine(), "--cycles", "5", "--timeout-first", "150"});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(5u, EventsOf(run.events, "cycle").size());
    const auto timeouts = EventsOf(run.events, "timeout");
    EXPECT_FALSE(timeouts.empty());
    // No exchange is given up before its reply had its time (the gap timeout,
    // 100 ms, is the shorter of the two here).
    for (const auto& t : timeouts) EXPECT_GE(t["waited_ms"].asDouble(), 100.0);
    EXPECT_FALSE(EventsOf(run.events, "frame_error").empty());
    EXPECT_EQ(0, sim.Stop());
}

TEST(MonitorEndToEnd, BadArgumentsAndConfigurationsExitWithTwo) {
    const ScratchDir scratch("config");
    const std::string& dir = scratch.Path();
    WriteFile(dir + "/no-rc.json", R"({"acSetting": [{"data_id": 11}]})");
    WriteFile(dir + "/bad-address.json", R"({"address": 300, "rcSetting": {}})");
    WriteFile(dir + "/not-json.json", "{ nope");
    WriteFile(dir + "/bad-entry.json", R"({"acSetting": [7], "rcSetting": {}})");
    for (const char* name : {"no-rc", "bad-address", "not-json", "bad-entry"}) {
        EXPECT_EQ(2, Monitor(dir, {"--cycles", "1", "--config", dir + "/" + name + ".json"}).status)
            << name;
    }
    WriteFile(dir + "/bad-scenario.json", R"({"ac": 3})");
    // Refused before anything is opened: no event file is left behind.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--config", dir + "/missing.json"}, {"--port", ""},
          {"--sim-scenario", dir + "/bad-scenario.json"},
          {"--port", "/dev/null", "--sim-scenario", dir + "/bad-scenario.json"},
          {"--history", dir + "/events.jsonl"}}) {
        std::vector<std::string> withCycles = args;
        withCycles.insert(withCycles.end(), {"--cycles", "1"});
        EXPECT_EQ(2, Monitor(dir, withCycles).status) << args[0] << " " << args[1];
    }
    EXPECT_EQ(2, Monitor(dir, {"--cycles", "x"}).status);
    EXPECT_EQ(2, Monitor(dir, {"--bogus"}).status);
    EXPECT_EQ(2, Monitor(dir, {"--query", "11"}).status);
    EXPECT_EQ(1, Monitor(dir, {"--cycles", "1", "--plugin", dir + "/missing.so"}).status);
    EXPECT_EQ(1, Monitor(dir, {"--cycles", "1", "--port", dir + "/no-such-port"}).status);
}

// --quiet drops the per-cycle summary, never the answers that were asked for.
TEST(MonitorEndToEnd, QuietStillAnswersQueries) {
    Process p({kMonitor, "--quiet", "--cycles", "0", "--query", "21:v"}, true);
    EXPECT_EQ("  21:v = 数据未就绪", p.FirstLine());
    EXPECT_EQ(0, p.Wait(30));
}

TEST(MonitorEndToEnd, WithExitOnLossALostLineEndsTheRunWithOne) {
    Process sim({kSim, "--pty"}, true);
    ASSERT_FALSE(sim.FirstLine().empty());
    Process monitor({kMonitor, "--fast", "--quiet", "--exit-on-loss", "--port", sim.FirstLine()});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(0, sim.Stop());
    EXPECT_EQ(1, monitor.Wait(10));
}

// --on-alarm: one run per raise and clear with the facts in the environment;
// a device text full of shell characters reaches the command unchanged and
// runs nothing; a command past its limit is stopped and reported.
TEST(MonitorEndToEnd, OnAlarmRunsTheCommandOncePerRaiseAndClear) {
    const ScratchDir scratch("on-alarm");
    const std::string& dir = scratch.Path();
    WriteFile(dir + "/notify.sh", "printf '%s|%s|%s|%s|%s|%s\\n' \"$TRM27K_EVENT\" \"$TRM27K_DATA_ID\" "
                                  "\"$TRM27K_KEY\" \"$TRM27K_LEVEL\" \"$TRM27K_NAME_EN\" \"$TRM27K_DETAIL\""
                                  " >> " + dir + "/notices.txt\n");
    WriteFile(dir + "/alarm.json", R"({"model": "$(touch P);`touch Q`",)"
                                   R"( "ac": {"0": {"channels": {"0": {"c_alert": 2}}}}})");
    WriteFile(dir + "/quiet.json", "{}");
    const auto run = [&](const std::string& scenario, const std::string& command, const char* limit) {
        return Monitor(dir, {"--cycles", "2", "--history", dir + "/h.db", "--sim-scenario", dir + "/" + scenario,
                             "--on-alarm", command, "--on-alarm-timeout", limit});
    };
    // Raised, still raised after a restart (restored, not raised again), cleared.
    for (const char* scenario : {"alarm.json", "alarm.json", "quiet.json"}) {
        ASSERT_EQ(0, run(scenario, "sh " + dir + "/notify.sh", "30").status);
    }
    std::vector<std::string> notices;
    std::ifstream in(dir + "/notices.txt");
    for (std::string line; std::getline(in, line);) notices.push_back(line);
    std::sort(notices.begin(), notices.end());  // two commands may run at once
    // The restart's model check finds the right model: the restored mismatch clears.
    const std::string model = "本驱动类型:trm27k 检测型号:$(touch P);`touch Q`";
    EXPECT_EQ((std::vector<std::string>{
                  "cleared|11|AC_6|2|AC input voltage high (channel 1, input line/phase voltage CA/C)|交流屏1输入线/相电压CA/C",
                  "cleared|1|device_model|3|Device configuration check|" + model,
                  "raised|11|AC_6|2|AC input voltage high (channel 1, input line/phase voltage CA/C)|交流屏1输入线/相电压CA/C",
                  "raised|1|device_model|3|Device configuration check|" + model}),
              notices);
    struct stat st {};
    EXPECT_NE(0, stat("P", &st));
    EXPECT_NE(0, stat("Q", &st));

    std::remove((dir + "/h.db").c_str());
    const MonitorRun slow = run("alarm.json", "sleep 30", "1");
    EXPECT_EQ(0, slow.status);
    std::vector<std::string> states;
    for (const auto& e : EventsOf(slow.events, "alarm_command")) states.push_back(e["state"].asString());
    EXPECT_EQ((std::vector<std::string>{"killed", "killed"}), states);
}
