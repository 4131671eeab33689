// The monitor under a service manager: what arrives on NOTIFY_SOCKET while
// it polls, and that the watchdog follows the poll, not the clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "NotifySocket.h"
#include "ProcessKit.h"
#include "serial_port.h"

namespace {

using testing_support::NotifySocket;
using testing_support::Process;

// The environment systemd gives a Type=notify service with WatchdogSec=;
// WATCHDOG_PID is left out, so the monitor the test starts takes it.
class ServiceEnvironment {
public:
    ServiceEnvironment(const NotifySocket& socket, const char* watchdogUsec) {
        ::setenv("NOTIFY_SOCKET", socket.Path().c_str(), 1);
        ::setenv("WATCHDOG_USEC", watchdogUsec, 1);
    }
    ~ServiceEnvironment() {
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
    }
};

// Everything the monitor says until `seconds` pass or `last` arrives.
std::vector<std::string> Collect(NotifySocket& socket, double seconds, const std::string& last = "") {
    std::vector<std::string> said;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        const std::string message = socket.Next(50);
        if (message.empty()) continue;
        said.push_back(message);
        if (!last.empty() && message.rfind(last, 0) == 0) break;
    }
    return said;
}

int Count(const std::vector<std::string>& said, const std::string& prefix) {
    int n = 0;
    for (const auto& m : said) n += m.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

// A whole run: ready once configured, keep-alives while exchanges complete,
// a status per cycle, the stop announced last.
TEST(MonitorService, TellsTheManagerReadyStatusWatchdogAndStop) {
    NotifySocket socket;
    ASSERT_TRUE(socket.Bound());
    ServiceEnvironment env(socket, "2000000");
    Process monitor({TRM27K_MONITOR_PATH, "--fast", "--quiet", "--cycles", "3", "--plugin-stdout", "/dev/null"});
    ASSERT_TRUE(monitor.Started());
    const auto said = Collect(socket, 30, "STOPPING=1");
    EXPECT_EQ(monitor.Wait(10), 0);

    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.front(), "READY=1\nSTATUS=configured, polling the built-in simulator");
    EXPECT_GE(Count(said, "WATCHDOG=1"), 1);
    EXPECT_EQ(Count(said, "STATUS=cycle 3, link up, "), 1);
    EXPECT_EQ(said.back(), "STOPPING=1\nSTATUS=stopping");
}

// A line that never answers, with a reply timeout longer than the test: the
// exchange never ends, so after READY no keep-alive is sent however long the
// monitor runs. A timer-driven watchdog would keep the hung poll alive.
TEST(MonitorService, NoKeepAliveWhileAnExchangeHangs) {
    tools::PtyPair silent;
    std::string error;
    ASSERT_TRUE(tools::OpenPty(silent, error)) << error;
    NotifySocket socket;
    ServiceEnvironment env(socket, "400000");
    Process monitor({TRM27K_MONITOR_PATH, "--port", silent.slavePath, "--timeout-first", "60000",
                     "--fast", "--quiet", "--plugin-stdout", "/dev/null"});
    const auto said = Collect(socket, 2.5);
    EXPECT_EQ(monitor.Stop(), 0);
    tools::ClosePty(silent);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.front().rfind("READY=1", 0), 0u);
    EXPECT_EQ(Count(said, "WATCHDOG=1"), 0);
}

// The device pulled while the service runs: the poll is alive and keeps
// reopening the line, so the manager hears keep-alives and a status that
// says the link is down, and does not restart a monitor that is doing its job.
TEST(MonitorService, KeepAlivesGoOnWhileALostLineIsReopened) {
    Process sim({TRM27K_SIM_PATH, "--pty"}, true);
    ASSERT_FALSE(sim.FirstLine().empty());
    NotifySocket socket;
    ServiceEnvironment env(socket, "400000");
    Process monitor({TRM27K_MONITOR_PATH, "--port", sim.FirstLine(), "--fast", "--quiet",
                     "--plugin-stdout", "/dev/null"});
    ASSERT_FALSE(Collect(socket, 30, "STATUS=cycle 1,").empty());
    sim.Kill();
    Collect(socket, 10, "STATUS=cycle");  // the status that tells the link is down
    const auto said = Collect(socket, 2.5);
    EXPECT_EQ(monitor.Stop(), 0);
    EXPECT_GE(Count(said, "WATCHDOG=1"), 4) << "a keep-alive at least every 400 ms";
}

}  // namespace
