// Scenarios: the defaults, JSON loading over them, and the refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "SimTestKit.h"
#include "scenario_json.h"

using namespace sim_testing;

namespace {

Json::Value Parse(const std::string& text) {
    Json::Value doc;
    std::string errors;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &doc, &errors)) << text;
    return doc;
}

// Every reply's INFO: two scenarios that give the same are the same on the line.
std::vector<Bytes> Replies(const sim::Scenario& s) {
    std::vector<Bytes> out;
    for (const sim::CommandRow& row : sim::kCommands) {
        bool known = false;
        out.push_back(sim::BuildInfo(s, row.cid1, row.cid2, known));
    }
    out.push_back({s.address, s.version});
    return out;
}

std::string TempFile(const std::string& text) {
    char path[] = "/tmp/sim-scenario-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
    close(fd);
    return path;
}

}  // namespace

TEST(DefaultScenario, MatchesTheMonitorsBuiltInConfigurationWithEveryAlarmClear) {
    const sim::Scenario s = sim::DefaultScenario();
    EXPECT_EQ(1, s.address);
    EXPECT_EQ(sim::ModelText("TRM27K"), s.model);
    ASSERT_EQ(2u, s.ac.size());
    ASSERT_EQ(2u, s.dc.size());
    ASSERT_EQ(4u, s.modules.size());
    for (const sim::AcScreen& screen : s.ac) {
        ASSERT_EQ(3u, screen.channels.size());
        for (const sim::AcChannel& ch : screen.channels) {
            EXPECT_NEAR(230.0f, ch.a.AsFloat(), 3.0f);
            EXPECT_FLOAT_EQ(50.0f, ch.f.AsFloat());
            EXPECT_EQ(0, ch.aAlert | ch.bAlert | ch.cAlert | ch.fAlert);
            EXPECT_EQ(30u, ch.user.size());
            EXPECT_EQ(Bytes(18, 0), ch.alarmUser);
        }
        EXPECT_EQ(Bytes(13, 0), screen.status);
        EXPECT_EQ(0, screen.iaAlert | screen.ibAlert | screen.icAlert);
    }
    EXPECT_FLOAT_EQ(53.5f, s.dc[0].v.AsFloat());
    float demand = 0.0f;  // the loads and the batteries' charge
    for (const sim::DcScreen& screen : s.dc) {
        demand += screen.i.AsFloat();
        for (const sim::Wire4& battery : screen.m) {
            EXPECT_NEAR(5.0f, battery.AsFloat(), 1.0f);  // charging, a few amperes
            demand += battery.AsFloat();
        }
        for (const sim::Wire4& temperature : screen.n) EXPECT_NEAR(25.0f, temperature.AsFloat(), 5.0f);
        EXPECT_EQ(55u, screen.user.size());
        EXPECT_EQ(Bytes(6, 0), screen.fuses);
        EXPECT_EQ(Bytes(151, 0), screen.alarmUser);
        EXPECT_EQ(0, screen.vAlarm);
    }
    // The modules' output currents share that demand, at the group's output voltage.
    EXPECT_FLOAT_EQ(53.5f, s.groupValue.AsFloat());
    float supplied = 0.0f;
    for (const sim::RcModule& m : s.modules) {
        supplied += m.value.AsFloat();
        EXPECT_NEAR(demand / 4, m.value.AsFloat(), 0.5f);
        ASSERT_EQ(13u, m.analog.size());
        for (const sim::Wire4& v : m.analog) {  // four equal bytes would read as "not provided"
            EXPECT_FALSE(v.bytes[0] == v.bytes[1] && v.bytes[1] == v.bytes[2] &&
                         v.bytes[2] == v.bytes[3]);
        }
        EXPECT_EQ(0, m.fault);
        EXPECT_EQ(Bytes(18, 0), m.alarmUser);
    }
    EXPECT_NEAR(demand, supplied, 0.01f);
    EXPECT_EQ(67u, s.dcParamExtra.size());
    std::string error;
    EXPECT_TRUE(sim::ValidateScenario(s, error)) << error;
}

TEST(ScenarioJson, AnEmptyDocumentKeepsEverything) {
    sim::Scenario s = sim::DefaultScenario();
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(Parse("{}"), s, error)) << error;
    EXPECT_EQ(Replies(sim::DefaultScenario()), Replies(s));
}

TEST(ScenarioJson, KeysChangeOnlyWhatTheyName) {
    sim::Scenario s = sim::DefaultScenario();
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(Parse(R"({
        "address": 3, "model": "OTHER", "dc_dataflag": 0,
        "ac": [{"channels": [{"a": 250.5, "c": "20202020"}, {}]}, {}, {"ia_alert": 3}],
        "dc": {"1": {"v": 48.0, "alarm_user": {"5": 133}}},
        "rc": {"group_value": 54, "modules": [{}, {"fault": 1, "status": {"2": 9}}]},
        "ac_param_extra": [1, 2], "dc_param": [57.0, 44.0]
    })"),
                                  s, error))
        << error;
    const sim::Scenario d = sim::DefaultScenario();
    EXPECT_EQ(3, s.address);
    EXPECT_EQ(sim::ModelText("OTHER"), s.model);
    EXPECT_EQ(0, s.dcDataFlag);
    EXPECT_EQ(0x11, s.acDataFlag);
    ASSERT_EQ(3u, s.ac.size());
    ASSERT_EQ(2u, s.ac[0].channels.size());  // an array sets the count
    EXPECT_FLOAT_EQ(250.5f, s.ac[0].channels[0].a.AsFloat());
    EXPECT_EQ(d.ac[0].channels[0].b, s.ac[0].channels[0].b);  // the rest kept
    EXPECT_EQ(sim::Wire4::Raw(0x20, 0x20, 0x20, 0x20), s.ac[0].channels[0].c);
    EXPECT_EQ(d.ac[0].channels[1].a, s.ac[0].channels[1].a);
    EXPECT_EQ(3u, s.ac[2].channels.size());  // a new screen starts from the defaults
    EXPECT_EQ(3, s.ac[2].iaAlert);
    ASSERT_EQ(2u, s.dc.size());  // an object changes in place
    EXPECT_EQ(d.dc[0].v, s.dc[0].v);
    EXPECT_FLOAT_EQ(48.0f, s.dc[1].v.AsFloat());
    EXPECT_EQ(133, s.dc[1].alarmUser[5]);
    EXPECT_EQ(151u, s.dc[1].alarmUser.size());
    EXPECT_FLOAT_EQ(54.0f, s.groupValue.AsFloat());
    ASSERT_EQ(2u, s.modules.size());
    EXPECT_EQ(1, s.modules[1].fault);
    EXPECT_EQ((std::array<uint8_t, 3>{0, 0, 9}), s.modules[1].status);
    EXPECT_EQ(2u, s.acParamExtra.size());
    EXPECT_FLOAT_EQ(44.0f, s.dcParam[1].AsFloat());
}

TEST(ScenarioJson, RefusalsNameTheKeyAndLeaveTheScenarioUnchanged) {
    std::string many = "[0";
    for (int k = 0; k < 255; ++k) many += ",0";
    many += "]";
    std::string hugeDc = R"({"dc": [)";
    std::string users = "[0";
    for (int k = 0; k < 254; ++k) users += ",0";
    users += "]";
    for (int k = 0; k < 3; ++k) hugeDc += std::string(k ? "," : "") + R"({"user": )" + users + "}";
    hugeDc += "]}";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[1]", "scenario: expected an object"},
        {R"({"adress": 1})", "adress: unknown key"},
        {R"({"address": 256})", "address: expected an integer from 0 to 255"},
        {R"({"address": -1})", "address: expected an integer"},
        {R"({"address": "1"})", "address: expected an integer"},
        {R"({"address": 1.5})", "address: expected an integer"},
        {R"({"model": "TRM27K-TOO-LONG-FOR-IT"})", "model: expected a text of at most 20 bytes"},
        {R"({"model": 5})", "model: expected a text"},
        {R"({"ac": 3})", "ac: expected an array or an object"},
        {R"({"ac": [{"channels": [{"a": "2020"}]}]})", "ac[0].channels[0].a: expected a number"},
        {R"({"ac": [{"channels": [{"a": "2020202G"}]}]})",
         "ac[0].channels[0].a: expected a number"},
        {R"({"ac": [{"channels": [{"a": 1e39}]}]})",
         "ac[0].channels[0].a: expected a number within float range"},
        {R"({"ac": [{"chanels": []}]})", "ac[0].chanels: unknown key"},
        {R"({"dc": {"5": {}}})", "dc[5]: index out of range (the group has 2 items)"},
        {R"({"dc": {"x": {}}})", "dc[x]: index out of range"},
        {R"({"dc": [{"fuses": [1, 300]}]})", "dc[0].fuses[1]: expected an integer"},
        {R"({"rc": {"modules": [{"status": [1, 2]}]}})",
         "rc.modules[0].status: expected exactly 3 items"},
        {R"({"ac_param": [1, 2]})", "ac_param: expected exactly 5 items"},
        {R"({"ac_param_extra": )" + many + "}", "ac_param_extra: a group holds at most 255 items"},
        {hugeDc, "the DC analog reply needs"},
    };
    for (const auto& [text, expected] : cases) {
        sim::Scenario s = sim::DefaultScenario();
        std::string error;
        EXPECT_FALSE(sim::LoadScenario(Parse(text), s, error)) << text;
        EXPECT_EQ(0u, error.find(expected)) << "got: " << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
        EXPECT_EQ(Replies(sim::DefaultScenario()), Replies(s)) << text;
    }
}

TEST(ScenarioFile, LoadsOverTheDefaultsAndRefusesBadFiles) {
    const std::string good = TempFile(R"({"model": "X"})");
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::LoadScenarioFile(good, s, error)) << error;
    EXPECT_EQ(sim::ModelText("X"), s.model);
    EXPECT_EQ(2u, s.ac.size());
    const std::vector<std::pair<std::string, std::string>> bad = {
        {R"({"model": "X",})", ": * Line 1"},
        {R"({"model": "X"} trailing)", ": * Line 1"},
        {R"({"a": 1, "a": 2})", ": * Line 1"},
        {std::string(100000, '['), ": "},
        {R"({"address": 300})", ": address: expected"},
    };
    for (const auto& [text, expected] : bad) {
        const std::string path = TempFile(text);
        sim::Scenario kept = sim::DefaultScenario();
        kept.address = 9;
        error.clear();
        EXPECT_FALSE(sim::LoadScenarioFile(path, kept, error)) << text.substr(0, 40);
        EXPECT_EQ(0u, error.find(path + expected)) << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
        EXPECT_EQ(9, kept.address);
        unlink(path.c_str());
    }
    EXPECT_FALSE(sim::LoadScenarioFile("/nonexistent/scenario.json", s, error));
    EXPECT_EQ("/nonexistent/scenario.json: cannot open", error);
    unlink(good.c_str());
}

TEST(ScenarioSwap, TheNextReplyFollowsTheNewScenarioAndABadOneIsRefused) {
    sim::Simulator simulator;
    sim::Scenario s = sim::DefaultScenario();
    s.dc[0].v = sim::Wire4::Of(47.25f);
    std::string error;
    ASSERT_TRUE(simulator.SetScenario(s, error));
    EXPECT_EQ(s.dc[0].v, W(&InfoOf(simulator, 0x42, 0x41)[2]));
    sim::Scenario tooBig = s;
    tooBig.ac.assign(5, sim::DefaultAcScreen(0));
    EXPECT_FALSE(simulator.SetScenario(tooBig, error));
    EXPECT_EQ(0u, error.find("the AC analog reply needs 2122 INFO bytes")) << error;
    EXPECT_EQ(2u, simulator.GetScenario().ac.size());
    sim::Scenario tooMany = s;
    tooMany.ac[0].breakers.assign(256, 0);
    EXPECT_FALSE(simulator.SetScenario(tooMany, error));
    EXPECT_EQ("the AC status reply has a group of more than 255 items", error);
}

TEST(ScenarioNoise, EveryReplyWandersWithinItsSpreadAndMarkersStay) {
    sim::Simulator simulator;
    sim::Scenario s = sim::DefaultScenario();
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(Parse(R"({"noise": true, "dc": {"1": {"v": "ffffffff"}}})"),
                                       s, error))
        << error;
    ASSERT_TRUE(simulator.SetScenario(s, error));
    const float bus = s.dc[0].v.AsFloat();
    const float load = s.dc[0].i.AsFloat();
    std::set<float> seen;
    for (int k = 0; k < 20; ++k) {
        const Bytes info = InfoOf(simulator, 0x42, 0x41);
        const float v = W(&info[2]).AsFloat();
        const float i = W(&info[6]).AsFloat();
        EXPECT_NEAR(bus, v, 0.15f);
        EXPECT_NEAR(load, i, 0.02f * load + 1e-4f);
        seen.insert(v);
    }
    EXPECT_GT(seen.size(), 10u);
    // The second screen's bus voltage is not provided and stays so.
    const Bytes info = InfoOf(simulator, 0x42, 0x41);
    EXPECT_NE(info.end(), std::search(info.begin(), info.end(), s.dc[1].v.bytes.begin(),
                                      s.dc[1].v.bytes.end()));
    EXPECT_FALSE(sim::LoadScenario(Parse(R"({"noise": 1})"), s, error));
    EXPECT_NE(std::string::npos, error.find("noise: expected true or false")) << error;
}

TEST(SimStats, TheStatsDocumentListsEveryCounter) {
    sim::SimStats stats;
    stats.bytesReceived = 12345678901ull;
    stats.wrongCount = 3;
    stats.duplicated = 2;
    Json::Value doc = Parse(sim::StatsJson(stats));
    EXPECT_EQ(15u, doc.size());
    EXPECT_EQ(2u, doc["duplicated"].asUInt());
    EXPECT_EQ(12345678901ull, doc["bytes_received"].asUInt64());
    EXPECT_EQ(3u, doc["wrong_count"].asUInt());
    EXPECT_EQ(0u, doc["replies"].asUInt());
}
