#pragma once
// Runs the monitor and the simulator as processes for end-to-end tests,
// started and stopped by process id, and reads the monitor's event file.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
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
    // read into FirstLine() (the simulator prints its pseudo-terminal there).
    // Standard error goes to `errorFile`, or nowhere.
    Process(const std::vector<std::string>& programArgs, bool capture = false,
            const std::string& errorFile = "/dev/null") {
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
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (out[1] >= 0) {
            close(out[1]);
            ReadFirstLine(out[0]);
        }
    }
    ~Process() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (pipe_ >= 0) close(pipe_);
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

    pid_t pid_ = -1;
    bool exited_ = false;
    int pipe_ = -1;
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

}  // namespace testing_support
