// The monitor's command line.
#include <gtest/gtest.h>

#include "options.h"

namespace {
bool Parse(std::vector<std::string> args, monitor::Options& out, std::string& error) {
    args.insert(args.begin(), "trm27k-monitor");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    return monitor::ParseOptions(static_cast<int>(argv.size()), argv.data(), out, error);
}
}  // namespace

TEST(MonitorOptions, DefaultsAndValues) {
    monitor::Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--port", "/dev/ttyUSB0", "--cycles", "0", "--query", "11:channel_0_a",
                       "--query", "21:v", "--timeout-gap", "40", "--fast"}, o, error)) << error;
    EXPECT_EQ("/dev/ttyUSB0", o.port);
    EXPECT_EQ(0, o.cycles);
    ASSERT_EQ(2u, o.queries.size());
    EXPECT_EQ(11u, o.queries[0].dataId);
    EXPECT_EQ("channel_0_a", o.queries[0].key);
    EXPECT_EQ(40, o.gapMs);
    EXPECT_EQ(1000, o.firstByteMs);
    EXPECT_TRUE(o.fast);
    EXPECT_EQ(":memory:", o.history);
}

TEST(MonitorOptions, BadValuesAreRefusedWithAReason) {
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--cycles", "-2"}, {"--cycles", "3x"}, {"--query", ":v"},
          {"--query", "11:"}, {"--query", "x:v"}, {"--timeout-first", "0"}, {"--port"},
          {"--log-level", "loud"}, {"--nope", "1"}}) {
        monitor::Options o;
        std::string error;
        EXPECT_FALSE(Parse(bad, o, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}
