// The monitor's options: the command line, the "monitor" object of the
// configuration file, and the refusals of both.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "options.h"

namespace {
cli::Outcome Parse(std::vector<std::string> args, monitor::Options& out) {
    args.insert(args.begin(), "trm27k-monitor");
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    return monitor::ParseOptions(static_cast<int>(argv.size()), argv.data(), out);
}

std::string ConfigFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + "trm27k-options-" + name + ".json";
    std::ofstream(path) << text;
    return path;
}

constexpr const char* kDevice = R"("acSetting": [{"data_id": 11}], "rcSetting": {})";

// Two names of one file: a database and a hard link to it.
std::pair<std::string, std::string> HardLinked() {
    const std::string db = ::testing::TempDir() + "trm27k-options-linked.db";
    const std::string link = db + ".link";
    std::ofstream(db) << "x";
    std::remove(link.c_str());
    EXPECT_EQ(0, ::link(db.c_str(), link.c_str()));
    return {db, link};
}
}  // namespace

TEST(MonitorOptions, DefaultsAndValues) {
    monitor::Options o;
    const cli::Outcome r = Parse({"--port", "/dev/ttyUSB0", "--cycles", "0", "--query", "11:channel_0_a",
                                  "--query", "21:v", "--timeout-gap", "40", "--fast"}, o);
    ASSERT_TRUE(r.run) << r.text;
    EXPECT_EQ("/dev/ttyUSB0", o.port);
    EXPECT_EQ(0, o.cycles);
    ASSERT_EQ(2u, o.queries.size());
    EXPECT_EQ(11u, o.queries[0].dataId);
    EXPECT_EQ("channel_0_a", o.queries[0].key);
    EXPECT_EQ(40, o.gapMs);
    EXPECT_EQ(1000, o.firstByteMs);
    EXPECT_TRUE(o.fast);
    EXPECT_EQ(":memory:", o.history);
    EXPECT_FALSE(o.scan);

    monitor::Options scan;
    ASSERT_TRUE(Parse({"--scan", "--address", "1", "--address", "7-9"}, scan).run);
    EXPECT_TRUE(scan.scan);
    EXPECT_EQ((std::vector<long long>{1, 7, 8, 9}), scan.addresses);
    // Without --config the built-in device configuration is used.
    EXPECT_EQ(2u, o.device["acSetting"].size());
}

TEST(MonitorOptions, TheMonitorObjectGivesOptionsAndTheCommandLineWins) {
    const std::string path = ConfigFile("monitor", std::string("{") + kDevice + R"(,
        "monitor": {"history": "/var/lib/site.db", "cycles": 5, "quiet": true,
                    "query": ["11:channel_0_a"], "log-level": "warn"}})");
    monitor::Options o;
    const cli::Outcome r = Parse({"--config", path, "--cycles", "7", "--query", "21:v"}, o);
    ASSERT_TRUE(r.run) << r.text;
    EXPECT_EQ("/var/lib/site.db", o.history);
    EXPECT_EQ(7, o.cycles);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ("warn", o.logLevel);
    ASSERT_EQ(1u, o.queries.size());
    EXPECT_EQ(21u, o.queries[0].dataId);
    // The plug-in gets the device configuration without the monitor's object.
    EXPECT_FALSE(o.device.isMember("monitor"));
    EXPECT_EQ(11u, o.device["acSetting"][0]["data_id"].asUInt());
}

TEST(MonitorOptions, CommandLineRefusalsExitWithTwoAndAReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--cycles", "-2"}, "--cycles"},       {{"--cycles", "3x"}, "--cycles"},
        {{"--query", ":v"}, "ID:KEY"},          {{"--query", "11:"}, "ID:KEY"},
        {{"--query", "x:v"}, "ID:KEY"},         {{"--timeout-first", "0"}, "--timeout-first"},
        {{"--port"}, "--port"},                 {{"--log-level", "loud"}, "loud"},
        {{"--nope", "1"}, "--nope"},            {{"--port", ""}, "empty"},
        {{"--port", "/dev/ttyS0", "--sim-scenario", "s.json"}, "--sim-scenario"},
        {{"--history", "/tmp/x/a.db", "--events", "/tmp/x/../x/a.db"}, "same file"},
        {{"--plugin-stdout", "out.txt", "--events", "./out.txt"}, "same file"},
        {{"--config", "/nonexistent/site.json"}, "/nonexistent/site.json: cannot read: No such file"},
        {{"--address", "2"}, "goes with --scan"},
        {{"--scan", "--address", "256"}, "--address"},
        {{"--http-password-hash", "hunter2", "--http-user", "site"}, "never the password"},
        {{"--http-user", "site:7"}, "without ':'"},
        {{"--http-user", "site"}, "go together"},
        {{"--mqtt", "a b:1883"}, "HOST or HOST:PORT"},
        {{"--mqtt-user", "trm"}, "--mqtt-user has no effect without --mqtt"},
        {{"--mqtt-password-file", "/etc/pass"}, "without --mqtt"},
        {{"--mqtt-ca", "/etc/ca.pem"}, "without --mqtt"},
        {{"--history", HardLinked().first, "--events", HardLinked().second}, "same file"},
        {{"--history", "/tmp/x/h.db", "--events", "/tmp/x/h.db-wal"}, "a file of the --history database"},
        {{"--history", "/tmp/x/h.db", "--plugin-stdout", "/tmp/x/h.db-journal"}, "--plugin-stdout names a file"},
    };
    for (const auto& [args, reason] : cases) {
        monitor::Options o;
        const cli::Outcome r = Parse(args, o);
        EXPECT_FALSE(r.run) << args[0];
        EXPECT_EQ(2, r.status) << args[0];
        EXPECT_NE(std::string::npos, r.text.find(reason)) << args[0] << ": " << r.text;
    }
    monitor::Options o;
    const cli::Outcome version = Parse({"--version"}, o);
    EXPECT_EQ(0, version.status);
    EXPECT_EQ(0u, version.text.find("trm27k-monitor 0."));
    const cli::Outcome help = Parse({"--help"}, o);
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.text.find("--timeout-gap N"));
}

// Each bad file is refused naming the file and the key or the parser's position.
TEST(MonitorOptions, ConfigurationRefusalsNameTheKey) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{ nope", "Line 1, Column 3"},
        {"[1, 2]", "not a JSON object"},
        {R"({"acSetting": {"data_id": 11}, "rcSetting": {}})", "key \"acSetting\": must be an array"},
        {R"({"acSetting": [7], "rcSetting": {}})", "key \"acSetting[0]\": must be an object"},
        {R"({"acSetting": [{"data_id": 11}]})", "key \"rcSetting\": missing"},
        {R"({"address": 300, "rcSetting": {}})", "key \"address\""},
        {R"({"adress": 3, "rcSetting": {}})", "key \"adress\": unknown"},
        {R"({"dcSetting": [{"data_id": 21, "appSetting": {"diff_v": []}}], "rcSetting": {}})",
         "key \"dcSetting[0].appSetting.diff_v\": must be a number"},
        {R"({"dcSetting": [{"data_id": 21, "appSetting": {"diff_v": -0.1}}], "rcSetting": {}})",
         "key \"dcSetting[0].appSetting.diff_v\": must be a number of 0 or more"},
        {R"({"acSetting": [{"data_id": 11, "appSetting": {"diff_i": "-2"}}], "rcSetting": {}})",
         "key \"acSetting[0].appSetting.diff_i\": must be a number of 0 or more"},
        {R"({"acSetting": [{"data_id": 11}, {"data_id": 11}], "rcSetting": {}})",
         "key \"acSetting[1].data_id\": data id 11 is used twice"},
        {R"({"devices": [], "monitor": {}})", "key \"devices\": must be an array"},
        {std::string(R"({"data_id": 1, "devices": [{)") + kDevice + "}]}", "key \"data_id\": unknown beside"},
        {std::string(R"({"devices": [{)") + kDevice + R"(, "adress": 2}]})", "key \"devices[0].adress\": unknown"},
        {std::string(R"({"devices": [{)") + kDevice + R"(, "name": "a/b"}]})", "key \"devices[0].name\": must be"},
        {std::string(R"({"devices": [{"data_id": 1, "address": 2, )") + kDevice + R"(}, {"data_id": 2, "address": 2, "rcSetting": {}}]})",
         "key \"devices[1].name\": \"addr2\" is the name of devices[0] too"},
        {std::string(R"({"devices": [{"data_id": 1, "name": "a", )") + kDevice + R"(}, {"data_id": 2, "name": "b", "rcSetting": {}}]})",
         "key \"devices[1].address\": the same address and port"},
        {std::string("{") + kDevice + R"(, "monitor": {"cycle": 3}})", "key \"monitor.cycle\": unknown"},
        {std::string("{") + kDevice + R"(, "monitor": {"cycles": "3"}})", "key \"monitor.cycles\": must be a whole number"},
        {std::string("{") + kDevice + R"(, "monitor": {"quiet": 1}})", "key \"monitor.quiet\": must be true or false"},
        {std::string("{") + kDevice + R"(, "monitor": {"port": ""}})", "key \"monitor.port\": wants a path"},
        {std::string("{") + kDevice + R"(, "monitor": {"config": "other.json"}})", "key \"monitor.config\": unknown"},
        {std::string("{") + kDevice + R"(, "monitor": []})", "key \"monitor\": must be an object"},
        {std::string("{") + kDevice + R"(, "monitor": {"scan": true}})", "key \"monitor.scan\": unknown"},
        {std::string("{") + kDevice + R"(, "monitor": {"http-password-hash": "$1$"}})",
         "key \"monitor.http-password-hash\": is not a hash"},
    };
    int n = 0;
    for (const auto& [text, reason] : cases) {
        const std::string path = ConfigFile("bad" + std::to_string(n++), text);
        monitor::Options o;
        const cli::Outcome r = Parse({"--config", path}, o);
        EXPECT_EQ(2, r.status) << text;
        EXPECT_EQ(0u, r.text.find(path + ": ")) << r.text;
        EXPECT_NE(std::string::npos, r.text.find(reason)) << text << " gave " << r.text;
    }
    // A value is checked even where the command line gives the same option.
    const std::string both = ConfigFile("both", std::string("{") + kDevice + R"(, "monitor": {"cycles": -1}})");
    monitor::Options o;
    const cli::Outcome r = Parse({"--config", both, "--cycles", "1"}, o);
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.text.find("key \"monitor.cycles\"")) << r.text;
}
