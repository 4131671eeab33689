// `trm27k-monitor --scan` against the simulator on its pseudo-terminal: the
// model of the address that answers, a bounded wait at the one that does not.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessKit.h"

namespace {

using testing_support::Process;
using testing_support::RunCapturing;

TEST(MonitorScan, FindsTheSimulatorOnItsPseudoTerminal) {
    Process sim({TRM27K_SIM_PATH, "--pty"}, true);
    ASSERT_TRUE(sim.Started());
    ASSERT_FALSE(sim.FirstLine().empty());
    const std::string pty = sim.FirstLine();

    std::string out;
    const auto start = std::chrono::steady_clock::now();
    const int status = RunCapturing({TRM27K_MONITOR_PATH, "--scan", "--port", pty, "--address", "2",
                                     "--address", "1", "--timeout-first", "400"},
                                    out);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.find(pty + "\n"), 0u) << out;
    EXPECT_NE(out.find("  address 1    model \"TRM27K\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  address 2    no answer within"), std::string::npos) << out;
    EXPECT_NE(out.find("1 device answered on 1 port"), std::string::npos) << out;
    // One unanswered probe ends at its deadline (400 ms + a reply's line time + a gap);
    // the rest is the program starting, slower under an emulator.
    EXPECT_LT(took, std::chrono::milliseconds(3000)) << out;
    EXPECT_EQ(sim.Stop(), 0);

    // Nothing answers at an address no device has: exit status 1. A range
    // lists every address of a bus that answers.
    Process other({TRM27K_SIM_PATH, "--pty", "--address", "1,2"}, true);
    EXPECT_EQ(RunCapturing({TRM27K_MONITOR_PATH, "--scan", "--port", other.FirstLine(), "--address", "9",
                            "--timeout-first", "200"},
                           out),
              1)
        << out;
    EXPECT_EQ(RunCapturing({TRM27K_MONITOR_PATH, "--scan", "--port", other.FirstLine(), "--address", "1-3",
                            "--timeout-first", "200"},
                           out),
              0)
        << out;
    EXPECT_NE(out.find("  address 2    model \"TRM27K\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  address 3    no answer within"), std::string::npos) << out;
    EXPECT_NE(out.find("2 devices answered on 1 port"), std::string::npos) << out;
    EXPECT_EQ(other.Stop(), 0);
}

}  // namespace
