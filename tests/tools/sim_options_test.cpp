// The command line of trm27k-sim.
#include "sim_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
bool Parse(std::vector<const char*> args, sim::SimOptions& out, std::string& error) {
    args.insert(args.begin(), "trm27k-sim");
    const cli::Outcome outcome = sim::ParseSimOptions(static_cast<int>(args.size()), args.data(), out);
    error = outcome.text;
    return outcome.run;
}
}  // namespace

TEST(SimOptions, EveryOptionReachesItsSetting) {
    sim::SimOptions o;
    std::string error;
    ASSERT_TRUE(
        Parse({"--port",     "/dev/ttyS1", "--scenario", "s.json",      "--pace", "--seed",
               "4294967295", "--drop",     "1.5",        "--corrupt",   "2",      "--truncate",
               "100",        "--delay",    "25:300",     "--wrong-rtn", "0",      "--wrong-count",
               "50",         "--stats",    "out.json"},
              o, error))
        << error;
    EXPECT_FALSE(o.pty);
    EXPECT_EQ("/dev/ttyS1", o.port);
    EXPECT_EQ("s.json", o.scenarioFile);
    EXPECT_TRUE(o.pace);
    EXPECT_EQ(4294967295u, o.faults.seed);
    EXPECT_DOUBLE_EQ(0.015, o.faults.drop);
    EXPECT_DOUBLE_EQ(0.02, o.faults.corrupt);
    EXPECT_DOUBLE_EQ(1.0, o.faults.truncate);
    EXPECT_DOUBLE_EQ(0.25, o.faults.delay);
    EXPECT_EQ(300, o.faults.delayMs);
    EXPECT_DOUBLE_EQ(0.0, o.faults.wrongRtn);
    EXPECT_DOUBLE_EQ(0.5, o.faults.wrongCount);
    EXPECT_EQ("out.json", o.statsFile);
    ASSERT_TRUE(Parse({"--pty"}, o, error));
    EXPECT_TRUE(o.pty);
    EXPECT_EQ(1u, o.faults.seed);
    // No line is needed to ask for help or the version; both end the program with 0.
    for (const auto& [ask, shows] : {std::pair{"--help", "--wrong-count P"}, {"--version", "trm27k-sim 0."}}) {
        const std::vector<const char*> argv = {"trm27k-sim", ask};
        const cli::Outcome outcome = sim::ParseSimOptions(2, argv.data(), o);
        EXPECT_FALSE(outcome.run);
        EXPECT_EQ(0, outcome.status);
        EXPECT_NE(std::string::npos, outcome.text.find(shows)) << outcome.text;
    }
}

TEST(SimOptions, BadArgumentsAreRefusedWithOneLine) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{}, "one of --pty or --port is needed"},
        {{"--pty", "--port", "/dev/x"}, "--pty and --port exclude each other"},
        {{"--pty", "--fast"}, "--fast"},
        {{"--pty", "--drop"}, "--drop"},
        {{"--pty", "--drop", "101"}, "'101' is not a percentage from 0 to 100"},
        {{"--pty", "--drop", "-1"}, "'-1' is not a percentage"},
        {{"--pty", "--corrupt", "5%"}, "'5%' is not a percentage"},
        {{"--pty", "--truncate", " 5"}, "' 5' is not a percentage"},
        {{"--pty", "--wrong-rtn", "nan"}, "'nan' is not a percentage"},
        {{"--pty", "--delay", "5"}, "--delay wants P:MS"},
        {{"--pty", "--delay", "5:x"}, "--delay wants P:MS"},
        {{"--pty", "--delay", "5:-1"}, "--delay wants P:MS"},
        {{"--pty", "--delay", "x:10"}, "'x' is not a percentage"},
        {{"--pty", "--seed", "-3"}, "--seed wants a whole number"},
        {{"--pty", "--seed", "4294967296"}, "--seed wants a whole number"},
        {{"--pty", "--seed", ""}, "--seed wants a whole number"},
    };
    for (const auto& [args, expected] : cases) {
        sim::SimOptions o;
        o.statsFile = "untouched";
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << expected;
        EXPECT_NE(std::string::npos, error.find(expected)) << "got: " << error;
        EXPECT_EQ("untouched", o.statsFile);
    }
}
