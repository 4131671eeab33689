// The notify protocol as systemd's manager sees it: a unix datagram socket
// named by NOTIFY_SOCKET receives what the monitor says.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "NotifySocket.h"
#include "service_notifier.h"
#include "service_status.h"

namespace {

using service::ServiceNotifier;
using testing_support::NotifySocket;
using std::chrono::milliseconds;

class NotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(socket_.Bound());
        ::setenv("NOTIFY_SOCKET", socket_.Path().c_str(), 1);
        ::setenv("WATCHDOG_USEC", "400000", 1);
        ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
        ::unsetenv("WATCHDOG_PID");
    }
    NotifySocket socket_;
};

// A run as systemd sees it: ready with a status, keep-alives only as often
// as a quarter of the interval however many exchanges complete, a new
// status, and the stop.
TEST_F(NotifierTest, ReadyKeepAlivesStatusAndStop) {
    ServiceNotifier notifier;
    ASSERT_TRUE(notifier.Active());
    EXPECT_EQ(notifier.WatchdogInterval(), milliseconds(400));

    notifier.Ready("configured, polling");
    EXPECT_EQ(socket_.Next(), "READY=1\nSTATUS=configured, polling");

    const auto t0 = ServiceNotifier::Clock::now();
    notifier.Progress(t0);
    EXPECT_EQ(socket_.Next(), "WATCHDOG=1");
    for (int ms = 10; ms < 100; ms += 10) notifier.Progress(t0 + milliseconds(ms));
    EXPECT_EQ(socket_.Next(), "") << "exchanges within a quarter interval send nothing";
    notifier.Progress(t0 + milliseconds(100));
    EXPECT_EQ(socket_.Next(), "WATCHDOG=1");
    EXPECT_EQ(notifier.WatchdogSent(), 2);

    notifier.Status("cycle 3, link up, no alarms active");
    EXPECT_EQ(socket_.Next(), "STATUS=cycle 3, link up, no alarms active");
    notifier.Stopping();
    EXPECT_EQ(socket_.Next(), "STOPPING=1\nSTATUS=stopping");
    EXPECT_EQ(socket_.Next(), "");
}

// Without a watchdog for this process no keep-alive goes out; without a
// notify socket nothing does, and nothing fails.
TEST_F(NotifierTest, SilentWithoutWatchdogOrSocket) {
    ::setenv("WATCHDOG_PID", std::to_string(::getpid() + 1).c_str(), 1);
    ServiceNotifier otherPid;
    EXPECT_EQ(otherPid.WatchdogInterval(), ServiceNotifier::Clock::duration::zero());
    otherPid.Progress();
    EXPECT_EQ(socket_.Next(), "");

    ::unsetenv("NOTIFY_SOCKET");
    ServiceNotifier none;
    EXPECT_FALSE(none.Active());
    none.Ready("x");
    none.Progress();
    none.Status("y");
    none.Stopping();
    EXPECT_EQ(socket_.Next(), "");
}

TEST(StatusLineTest, CountsEveryAlarmAndCutsOnlyBetweenNames) {
    service::ServiceState state;
    state.cycles = 42;
    EXPECT_EQ(service::StatusLine(state), "cycle 42, link up, no alarms active");
    state.link = "down";
    state.alarms = {"交流输入停电"};
    EXPECT_EQ(service::StatusLine(state), "cycle 42, link down, 1 alarm active: 交流输入停电");

    state.alarms.assign(40, "直流输出电压过低");
    const std::string line = service::StatusLine(state);
    EXPECT_LE(line.size(), service::kMaxStatusBytes);
    EXPECT_EQ(line.rfind("cycle 42, link down, 40 alarms active: 直流输出电压过低", 0), 0u);
    EXPECT_EQ(line.substr(line.size() - 5), "; ...");
    // Every name left in is whole.
    EXPECT_EQ((line.size() - std::string("cycle 42, link down, 40 alarms active: ").size() - 5 + 2) %
                  (std::string("直流输出电压过低").size() + 2),
              0u);
}

}  // namespace
