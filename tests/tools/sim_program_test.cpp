// The trm27k-sim program, started and stopped by process id: its pty line,
// scenario reloads, clean stop with counters, and refusals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "Emulator.h"
#include "SimTestKit.h"
#include "serial_port.h"

using namespace sim_testing;
using Clock = std::chrono::steady_clock;

namespace {

// The program sits beside the test's build folder: build/tools/sim/trm27k-sim.
std::string ProgramPath() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    std::string path(self, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/'));
    return path + "/../tools/sim/trm27k-sim";
}

struct Program {
    pid_t pid = -1;
    int out = -1;
    int err = -1;

    explicit Program(std::vector<std::string> args) {
        const std::string path = ProgramPath();
        if (access(path.c_str(), X_OK) != 0 || !ChildProcessesWork()) return;
        int outPipe[2], errPipe[2];
        if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return;
        args.insert(args.begin(), path);
        std::vector<std::string> command = testing_support::EmulatedArgs(args);
        pid = fork();
        if (pid == 0) {
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            std::vector<char*> argv;
            for (std::string& a : command) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);  // cannot run it here (a foreign-architecture binary under an emulator)
        }
        close(outPipe[1]);
        close(errPipe[1]);
        out = outPipe[0];
        err = errPipe[0];
    }
    ~Program() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
        if (err >= 0) close(err);
    }
    // Reads the pipe until a newline, its end, or `timeoutMs`.
    static std::string Line(int fd, int timeoutMs) {
        std::string line;
        if (fd < 0) return line;
        const auto start = Clock::now();
        while (Clock::now() - start < std::chrono::milliseconds(timeoutMs)) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char c;
            if (read(fd, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }
    // The exit status, or -1 when the program did not end within `timeoutMs`.
    int Wait(int timeoutMs) {
        const auto start = Clock::now();
        while (Clock::now() - start < std::chrono::milliseconds(timeoutMs)) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
};

#define REQUIRE_PROGRAM(program, firstLine)                                                \
    if ((program).pid <= 0)                                                                \
        GTEST_SKIP() << "trm27k-sim not built beside the tests, or no child process here"; \
    if ((firstLine).empty() && (program).Wait(200) == 127)                                 \
    GTEST_SKIP() << "trm27k-sim cannot run here"

void WriteFile(const std::string& path, const std::string& text) {
    const std::string temp = path + ".new";
    std::ofstream(temp) << text;
    ASSERT_EQ(0, rename(temp.c_str(), path.c_str()));  // whole, as an editor saves it
}

// The model text the program answers on `fd`, cut at its first zero byte.
std::string ModelOn(int fd) {
    const std::string command = Command(0x40, 0x51);
    tools::WriteAll(fd, reinterpret_cast<const uint8_t*>(command.data()), command.size(), 0);
    std::string reply;
    const auto start = Clock::now();
    while (reply.find('\r') == std::string::npos &&
           Clock::now() - start < std::chrono::seconds(3)) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) reply.append(buffer, static_cast<size_t>(n));
    }
    host::DecodedFrame frame;
    if (DecodeAll(reply, frame) != 1) return "<no reply>";
    return std::string(frame.info.begin(), frame.info.end()).c_str();
}

}  // namespace

TEST(SimProgram, ServesAPtyReloadsItsScenarioAndStopsCleanlyOnSigterm) {
    const std::string dir = testing::TempDir();
    const std::string scenario = dir + "sim-program-scenario.json";
    const std::string stats = dir + "sim-program-stats.json";
    WriteFile(scenario, R"({"model": "FIRST"})");
    Program program({"--pty", "--scenario", scenario, "--stats", stats});
    const std::string slave = Program::Line(program.out, 3000);
    REQUIRE_PROGRAM(program, slave);
    std::string error;
    const int line = tools::OpenSerialPort(slave, 9600, error);
    ASSERT_GE(line, 0) << slave << ": " << error;
    EXPECT_EQ("FIRST", ModelOn(line));

    WriteFile(scenario, R"({"model": "SECOND"})");  // seen by its change
    std::string model;
    const auto start = Clock::now();
    while ((model = ModelOn(line)) != "SECOND" && Clock::now() - start < std::chrono::seconds(3)) {
    }
    EXPECT_EQ("SECOND", model);
    EXPECT_EQ("trm27k-sim: scenario reloaded from " + scenario, Program::Line(program.err, 1000));

    WriteFile(scenario, R"({"model": 7})");
    EXPECT_EQ(0u, Program::Line(program.err, 3000).find("trm27k-sim: scenario kept, "));
    EXPECT_EQ("SECOND", ModelOn(line));

    ASSERT_EQ(0, kill(program.pid, SIGTERM));
    EXPECT_EQ(0, program.Wait(3000));
    close(line);
    Json::Value counters;
    std::ifstream in(stats);
    ASSERT_TRUE(static_cast<bool>(in >> counters));
    EXPECT_GE(counters["commands"].asUInt(), 3u);
    EXPECT_EQ(counters["commands"], counters["replies"]);
}

TEST(SimProgram, BadArgumentsAndScenariosExitWith2AndOneLine) {
    const std::string badScenario = testing::TempDir() + "sim-program-bad.json";
    WriteFile(badScenario, R"({"ac": 1})");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--pty", "--drop", "200"}, "trm27k-sim: --drop: '200' is not a percentage from 0 to 100"},
        {{"--bogus"}, "trm27k-sim: The following argument was not expected: --bogus"},
        {{"--pty", "--scenario", badScenario},
         "trm27k-sim: " + badScenario + ": ac: expected an array or an object of index keys"},
    };
    for (const auto& [args, expected] : cases) {
        Program program(args);
        const std::string line = Program::Line(program.err, 3000);
        REQUIRE_PROGRAM(program, line);
        EXPECT_EQ(expected, line);
        EXPECT_EQ(2, program.Wait(3000)) << expected;
        EXPECT_EQ("", Program::Line(program.out, 100));
    }
}

TEST(SimProgram, HelpGoesToStandardOutput) {
    Program program({"--help"});
    const std::string first = Program::Line(program.out, 3000);
    REQUIRE_PROGRAM(program, first);
    EXPECT_EQ("Simulates a TRM27K power system on a serial line.", first);
    EXPECT_EQ(0, program.Wait(3000));
}
