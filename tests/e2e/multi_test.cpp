// Several power systems in one monitor: two on one bus (one simulator
// answering addresses 1 and 2) and a third on a line of its own.
#include <gtest/gtest.h>

#include <httplib.h>

#include <cstdlib>
#include <map>
#include <set>

#include "Broker.h"
#include "ProcessKit.h"

using namespace testing_support;

namespace {
const std::string kMonitor = TRM27K_MONITOR_PATH;
const std::string kSim = TRM27K_SIM_PATH;

// One device configuration: main data id `id`, AC screens id*10+1..2, DC
// screens id*10+5..6 (the simulator's two of each).
std::string Device(unsigned id, const std::string& extra) {
    const std::string ac = std::to_string(id * 10 + 1), ac2 = std::to_string(id * 10 + 2);
    const std::string dc = std::to_string(id * 10 + 5), dc2 = std::to_string(id * 10 + 6);
    return R"({"data_id": )" + std::to_string(id) + R"(, "address": )" + std::to_string(id) + extra +
           R"(, "acSetting": [{"data_id": )" + ac + R"(}, {"data_id": )" + ac2 + R"(}], "dcSetting": [{"data_id": )" +
           dc + R"(}, {"data_id": )" + dc2 + R"(}], "rcSetting": {}})";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The site as /api/state tells it; null while the monitor does not answer.
Json::Value State(httplib::Client& http) {
    const auto answer = http.Get("/api/state");
    return answer && answer->status == 200 ? ParseJson(answer->body) : Json::Value();
}

// A power system's field of /api/state, by its name.
Json::Value SystemField(const Json::Value& state, const std::string& name, const char* field) {
    for (const auto& d : state["devices"]) {
        if (d["name"] == name) return d[field];
    }
    return Json::Value();
}
}  // namespace

TEST(MultiSystemEndToEnd, ASilentAddressOnASharedBusStopsOnlyItsOwnPowerSystem) {
    const ScratchDir scratch("multi");
    const std::string& dir = scratch.Path();
    WriteFile(dir + "/bus.json", "{}");
    Process bus({kSim, "--pty", "--address", "1,2", "--scenario", dir + "/bus.json"}, true);
    Process own({kSim, "--pty", "--address", "3"}, true);
    ASSERT_FALSE(bus.FirstLine().empty());
    ASSERT_FALSE(own.FirstLine().empty());
    WriteFile(dir + "/site.json", R"({"devices": [)" + Device(1, "") + ", " + Device(2, R"(, "name": "north")") +
                                      ", " + Device(3, R"(, "port": ")" + own.FirstLine() + "\"") +
                                      R"(], "monitor": {"port": ")" + bus.FirstLine() + "\"}}");
    const int httpPort = FreePort();
    ::setenv("TRM27K_TEST_SILENT_AFTER_MS", "3000", 1);
    const std::string events = dir + "/events.jsonl";
    Process monitor({kMonitor, "--fast", "--quiet", "--config", dir + "/site.json", "--events", events,
                     "--events-omit", "command,record,rules", "--timeout-first", "300", "--http",
                     "127.0.0.1:" + std::to_string(httpPort)},
                    false, dir + "/monitor.err");
    httplib::Client http("127.0.0.1", httpPort);

    // Every child of every power system reaches the model.
    const std::set<unsigned> ids = {1, 11, 12, 15, 16, 2, 21, 22, 25, 26, 3, 31, 32, 35, 36};
    ASSERT_TRUE(WaitUntil(120, [&] {
        std::set<unsigned> seen;
        const Json::Value state = State(http);
        for (const auto& child : state["children"]) {
            if (!child["values"].empty()) seen.insert(child["data_id"].asUInt());
        }
        return seen == ids;
    }));

    // Address 2 stops answering: it alone goes silent, the others keep cycling.
    WriteFile(dir + "/bus.json.new", R"({"silent": [2]})");
    ASSERT_EQ(0, std::rename((dir + "/bus.json.new").c_str(), (dir + "/bus.json").c_str()));
    ASSERT_TRUE(WaitUntil(120, [&] { return SystemField(State(http), "north", "link_up") == false; }));
    const Json::Value before = State(http);
    EXPECT_TRUE(WaitUntil(120, [&] {
        const Json::Value now = State(http);
        const auto moved = [&](const char* name) {
            return SystemField(now, name, "cycles").asUInt64() >= SystemField(before, name, "cycles").asUInt64() + 2;
        };
        return moved("addr1") && moved("addr3");
    }));
    const Json::Value site = State(http);
    EXPECT_TRUE(site["link_up"].asBool()) << "a silent power system never takes the site down";
    EXPECT_TRUE(SystemField(site, "addr1", "link_up").asBool());
    EXPECT_TRUE(SystemField(site, "addr3", "link_up").asBool());
    for (const auto& e : EventsOf(ReadEvents(events), "link")) {
        EXPECT_TRUE(e["state"] != "silent" || e["system"] == "north") << e;
    }
    const auto metrics = http.Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_NE(std::string::npos,
              metrics->body.find("trm27k_power_system_up{site=\"site\",device=\"north\",address=\"2\"} 0\n"));
    EXPECT_NE(std::string::npos, metrics->body.find("trm27k_dc_voltage_volts{site=\"site\",device=\"addr3\",data_id=\"35\"}"));
    EXPECT_EQ(0, monitor.Stop(30));
}

TEST(MultiSystemEndToEnd, ADataIdUsedByTwoPowerSystemsIsRefusedNamingBoth) {
    const ScratchDir scratch("multi-dup");
    const std::string& dir = scratch.Path();
    // 16 is a DC screen of the first system and an AC screen of the second.
    std::string second = Device(2, "");
    second.replace(second.find("21"), 2, "16");
    WriteFile(dir + "/site.json", R"({"devices": [)" + Device(1, "") + ", " + second + "]}");
    Process monitor({kMonitor, "--fast", "--cycles", "1", "--config", dir + "/site.json"}, false, dir + "/err");
    EXPECT_EQ(2, monitor.Wait(60));
    const std::string text = Slurp(dir + "/err");
    EXPECT_NE(std::string::npos,
              text.find("key \"devices[1].acSetting[0].data_id\": data id 16 is used twice (also at "
                        "devices[0].dcSetting[1].data_id)"))
        << text;
}
