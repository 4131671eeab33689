// The serial helpers and the simulator loop on real descriptors: raw
// pseudo-terminals, paced writes, delays, stopping and a closed line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "SimTestKit.h"
#include "serial_port.h"
#include "sim_loop.h"

using namespace sim_testing;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Reads until `want` CRs have arrived or `timeoutMs` passed.
std::string ReadReplies(int fd, int want, int timeoutMs) {
    std::string got;
    const auto start = Clock::now();
    while (std::count(got.begin(), got.end(), '\r') < want && MsSince(start) < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

void Send(int fd, const std::string& bytes) {
    ASSERT_TRUE(
        tools::WriteAll(fd, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0));
}

std::atomic<bool> g_serverStop{false};
void StopServer(int) {
    g_serverStop = true;
}

// The server's exit status: the replies it sent after a clean stop (at most
// 100), or 120 plus how its loop ended otherwise.
int ServeAndExit(int fd, const sim::FaultPlan& plan, int pacedBaud) {
    struct sigaction action {};
    action.sa_handler = StopServer;  // no SA_RESTART: the loop's poll sees it at once
    sigaction(SIGTERM, &action, nullptr);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &term, nullptr);
    sim::Simulator simulator(plan);
    sim::LoopOptions options;
    options.pacedBaud = pacedBaud;
    const sim::LoopEnd end = sim::RunSimulatorLoop(fd, simulator, options, g_serverStop);
    if (end != sim::LoopEnd::Stopped) return 120 + static_cast<int>(end);
    return static_cast<int>(std::min<uint64_t>(simulator.Stats().replies, 100));
}

// A pseudo-terminal served by the simulator loop in a child process, started
// and stopped by its process id, and a client end opened on the slave path
// as the monitor opens it. A process, not a thread: the loop is then also
// tested under emulators that cannot run threads.
struct LineRig {
    tools::PtyPair pty;
    int client = -1;
    pid_t server = -1;

    explicit LineRig(const sim::FaultPlan& plan = {}, int pacedBaud = 0) {
        if (!ChildProcessesWork()) return;
        std::string error;
        if (!tools::OpenPty(pty, error)) return;
        client = tools::OpenSerialPort(pty.slavePath, 9600, error);
        EXPECT_GE(client, 0) << error;
        // SIGTERM stays blocked until the server's handler is in place.
        sigset_t term, previous;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        sigprocmask(SIG_BLOCK, &term, &previous);
        server = fork();
        if (server == 0) _exit(ServeAndExit(pty.master, plan, pacedBaud));
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
    bool Ready() const { return client >= 0 && server > 0; }
    // The server's exit status, or -1 when it did not stop within 3 seconds.
    int Stop() {
        if (server <= 0) return -1;
        kill(server, SIGTERM);
        const auto start = Clock::now();
        int status = 0;
        while (waitpid(server, &status, WNOHANG) == 0) {
            if (MsSince(start) > 3000) {
                kill(server, SIGKILL);
                waitpid(server, &status, 0);
                server = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        server = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~LineRig() {
        Stop();
        if (client >= 0) close(client);
        tools::ClosePty(pty);
    }
};

#define REQUIRE_PTY(rig) \
    if (!(rig).Ready()) GTEST_SKIP() << "no pseudo-terminal or child process here"

}  // namespace

TEST(SerialPort, RefusesWhatIsNotASerialLineWithOneLine) {
    std::string error;
    EXPECT_EQ(-1, tools::OpenSerialPort("/dev/null", 9601, error));
    EXPECT_EQ("unsupported baud rate 9601", error);
    EXPECT_EQ(-1, tools::OpenSerialPort("/nonexistent/ttyX", 9600, error));
    EXPECT_EQ(0u, error.find("cannot open /nonexistent/ttyX: ")) << error;
    EXPECT_EQ(-1, tools::OpenSerialPort("/dev/null", 9600, error));
    EXPECT_EQ("/dev/null is not a serial line", error);
}

TEST(SerialPort, APtyCarriesEveryByteValueUnchangedBothWays) {
    tools::PtyPair pty;
    std::string error;
    if (!tools::OpenPty(pty, error)) GTEST_SKIP() << error;
    const int client = tools::OpenSerialPort(pty.slavePath, 9600, error);
    ASSERT_GE(client, 0) << error;
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    all += "\r\n\r";
    for (auto [from, to] : {std::pair{client, pty.master}, std::pair{pty.master, client}}) {
        ASSERT_TRUE(
            tools::WriteAll(from, reinterpret_cast<const uint8_t*>(all.data()), all.size(), 0));
        std::string got;
        const auto start = Clock::now();
        while (got.size() < all.size() && MsSince(start) < 3000) {
            pollfd p{to, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buffer[600];
            const ssize_t n = read(to, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<size_t>(n));
        }
        EXPECT_EQ(all, got);
    }
    close(client);
    tools::ClosePty(pty);
    EXPECT_EQ(-1, pty.master);
}

TEST(SerialPort, PacedWritesTakeTheLineTime) {
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
    const std::vector<uint8_t> bytes(96, 'x');
    auto start = Clock::now();
    // No byte arrives before the line could have carried it: the first
    // piece (16 ms of the line) comes once its last byte is through.
    long long firstMs = -1;
    std::thread reader([&] {
        pollfd p{pair[1], POLLIN, 0};
        if (::poll(&p, 1, 5000) == 1) firstMs = MsSince(start);
        char sink[128];
        for (size_t got = 0; got < bytes.size();) {
            const ssize_t n = read(pair[1], sink, sizeof sink);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
    });
    ASSERT_TRUE(tools::WriteAll(pair[0], bytes.data(), bytes.size(), 9600));
    EXPECT_GE(MsSince(start), 99);  // 96 bytes of 10 bits at 9600 baud: 100 ms
    reader.join();
    EXPECT_GE(firstMs, 15);
    // A stop ends a paced write between two pieces.
    const std::atomic<bool> stop{true};
    start = Clock::now();
    ASSERT_TRUE(tools::WriteAll(pair[0], bytes.data(), bytes.size(), 9600, &stop));
    EXPECT_LT(MsSince(start), 50);
    start = Clock::now();
    ASSERT_TRUE(tools::WriteAll(pair[0], bytes.data(), bytes.size(), 0));
    EXPECT_LT(MsSince(start), 50);
    close(pair[1]);
    const auto previous = signal(SIGPIPE, SIG_IGN);  // as the program ignores it
    EXPECT_FALSE(tools::WriteAll(pair[0], bytes.data(), bytes.size(), 0));  // nobody reads
    signal(SIGPIPE, previous);
    close(pair[0]);
}

TEST(SimLoop, AnswersACommandOnAPtyAndStopsWhenAsked) {
    LineRig rig;
    REQUIRE_PTY(rig);
    Send(rig.client, Command(0x40, 0x51));
    const std::string reply = ReadReplies(rig.client, 1, 3000);
    host::DecodedFrame frame;
    ASSERT_EQ(1, DecodeAll(reply, frame)) << reply;
    const auto model = sim::ModelText("TRM27K");
    EXPECT_EQ(Bytes(model.begin(), model.end()), frame.info);
    const auto start = Clock::now();
    EXPECT_EQ(1, rig.Stop());  // stopped cleanly after one reply
    EXPECT_LT(MsSince(start), 1000);
}

TEST(SimLoop, DelayedRepliesComeLateAndInOrder) {
    sim::FaultPlan plan;
    plan.delay = 1.0;
    plan.delayMs = 150;
    LineRig rig(plan);
    REQUIRE_PTY(rig);
    const auto start = Clock::now();
    Send(rig.client, Command(0x41, 0x41) + Command(0x42, 0x46));
    const std::string replies = ReadReplies(rig.client, 2, 3000);
    EXPECT_GE(MsSince(start), 150);
    const size_t split = replies.find('\r');
    ASSERT_NE(std::string::npos, split);
    host::DecodedFrame first, second;
    ASSERT_EQ(1, DecodeAll(replies.substr(0, split + 1), first));
    ASSERT_EQ(1, DecodeAll(replies.substr(split + 1), second));
    EXPECT_EQ(0x41, first.cid1);
    EXPECT_EQ(0x42, second.cid1);
}

TEST(SimLoop, PacedRepliesTakeAsLongAsOnTheRealLine) {
    LineRig rig({}, 9600);
    REQUIRE_PTY(rig);
    const auto start = Clock::now();
    Send(rig.client, Command(0x42, 0x46));
    const std::string reply = ReadReplies(rig.client, 1, 3000);
    ASSERT_EQ(18u + 2 * 277, reply.size());
    EXPECT_GE(MsSince(start), 590);  // 572 bytes of 10 bits at 9600 baud: 596 ms
}

TEST(SimLoop, EndsWhenTheLineCloses) {
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
    sim::Simulator simulator;
    std::atomic<bool> stop{false};
    close(pair[1]);
    EXPECT_EQ(sim::LoopEnd::LineClosed, sim::RunSimulatorLoop(pair[0], simulator, {}, stop));
    close(pair[0]);
}
