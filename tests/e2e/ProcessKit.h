#pragma once
// Runs the monitor and the simulator as processes for end-to-end tests,
// started and stopped by process id, and reads the monitor's event file and
// history database.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "JsonText.h"
#include "ScratchDir.h"

extern char** environ;

namespace testing_support {

// A child process; killed at destruction if still running.
class Process {
public:
    // Starts `args`; with `capture`, the first line of its standard output is
    // read into FirstLine() (the simulator prints its pseudo-terminal there);
    // without, standard output goes to `outputFile`. Standard error goes to
    // `errorFile`. Both go nowhere by default.
    Process(const std::vector<std::string>& programArgs, bool capture = false,
            const std::string& errorFile = "/dev/null", const std::string& outputFile = "/dev/null") {
        const std::vector<std::string> args = EmulatedArgs(programArgs);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int out[2] = {-1, -1};
        if (capture && pipe(out) == 0) {
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
            posix_spawn_file_actions_addclose(&actions, out[0]);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (out[1] >= 0) {
            close(out[1]);
            ReadFirstLine(out[0]);
            HoldPseudoTerminal();
        }
    }
    ~Process() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (pipe_ >= 0) close(pipe_);
        if (heldPty_ >= 0) close(heldPty_);
    }
    const std::string& FirstLine() const { return firstLine_; }
    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Waits up to `seconds` for the exit; its status, or -1 on a timeout or signal.
    int Wait(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    // Asks for a clean stop and waits for it.
    int Stop(double seconds = 10) {
        kill(pid_, SIGTERM);
        return Wait(seconds);
    }
    // Ends it at once, wherever it is (a device pulled mid-reply).
    void Kill() {
        kill(pid_, SIGKILL);
        Wait(10);
    }

private:
    void ReadFirstLine(int fd) {
        pipe_ = fd;
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n') firstLine_ += c;
    }
    // Tests run side by side, and a monitor whose simulator stopped keeps
    // reopening its port's path. Were the pseudo-terminal's number freed, the
    // next simulator started by another test could get it, and that monitor
    // would take over the other test's line. An open descriptor on the
    // terminal keeps the number taken until this object goes; it never reads,
    // so it takes no byte from the monitor.
    void HoldPseudoTerminal() {
        if (firstLine_.rfind("/dev/pts/", 0) != 0) return;
        heldPty_ = ::open(firstLine_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    int pipe_ = -1;
    int heldPty_ = -1;
    std::string firstLine_;
};

// Every event of a JSON Lines file, in order.
inline std::vector<Json::Value> ReadEvents(const std::string& path) {
    std::vector<Json::Value> events;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) events.push_back(ParseJson(line));
    }
    return events;
}

inline std::vector<Json::Value> EventsOf(const std::vector<Json::Value>& all, const std::string& kind) {
    std::vector<Json::Value> out;
    for (const auto& e : all) {
        if (e["event"].asString() == kind) out.push_back(e);
    }
    return out;
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Waits up to `seconds` until `done` holds; whether it did.
inline bool WaitUntil(double seconds, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Runs `args` to the end with its standard output in `text`; its exit status.
inline int RunCapturing(const std::vector<std::string>& programArgs, std::string& text) {
    const std::vector<std::string> args = EmulatedArgs(programArgs);
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/trm27k-out-XXXXXX";
    const int out = ::mkstemp(path.data());
    if (out < 0) return -1;
    ::unlink(path.c_str());
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    if (started) ::waitpid(pid, &status, 0);
    text.clear();
    char buffer[4096];
    ssize_t n;
    ::lseek(out, 0, SEEK_SET);
    while ((n = ::read(out, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    ::close(out);
    return started && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs SQL on a database from the test itself; the statements' first
// column of the last row, as text.
inline std::string Sql(const std::string& db, const std::string& sql) {
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    std::string out;
    sqlite3_exec(h, sql.c_str(), [](void* o, int n, char** values, char**) {
        *static_cast<std::string*>(o) = n > 0 && values[0] != nullptr ? values[0] : "";
        return 0;
    }, &out, nullptr);
    sqlite3_close(h);
    return out;
}

}  // namespace testing_support
