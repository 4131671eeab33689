#include "alarm_command.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <spdlog/spdlog.h>

#include "alarm_names.h"
#include "local_time.h"

extern char** environ;

namespace alarm_command {

namespace {
using Clock = std::chrono::steady_clock;
// How often running commands are checked for their end and their limit.
constexpr auto kTick = std::chrono::milliseconds(50);
// Signals the monitor catches or ignores; the command starts with each at its default.
constexpr int kDefaultSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ, SIGCHLD};

// "NAME=value", with any NUL cut off: the environment cannot carry one.
std::string Entry(const char* name, const std::string& value) {
    return std::string(name) + "=" + value.substr(0, value.find('\0'));
}

void Log(spdlog::level::level_enum level, const std::string& text) {
    if (auto logger = spdlog::get("trm27k")) logger->log(level, "{}", text);
}
}  // namespace

std::vector<std::string> AlarmEnvironment(const site::AlarmEvent& e, const std::string& site) {
    const std::string& time = e.raised ? e.raisedTime : e.clearedTime;
    return {Entry("TRM27K_EVENT", e.raised ? "raised" : "cleared"),
            Entry("TRM27K_SITE", site),
            Entry("TRM27K_LEVEL", std::to_string(e.rule.level)),
            Entry("TRM27K_NAME", e.rule.name),
            Entry("TRM27K_NAME_EN", site::EnglishName(e.rule.name, e.rule.detail)),
            Entry("TRM27K_DETAIL", e.rule.detail),
            Entry("TRM27K_KEY", e.rule.key),
            Entry("TRM27K_CODE", e.rule.code),
            Entry("TRM27K_TIME", time),
            Entry("TRM27K_DATA_ID", std::to_string(e.rule.data_id))};
}

AlarmCommandOutput::AlarmCommandOutput(site::SiteModel& model, Settings settings)
    : model_(model), settings_(std::move(settings)) {}

AlarmCommandOutput::~AlarmCommandOutput() { Stop(); }

void AlarmCommandOutput::Start() {
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "on-alarm");  // as top -H and ps -L show it
        Run();
    });
}

void AlarmCommandOutput::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void AlarmCommandOutput::OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr&) {
    for (const site::AlarmEvent& e : events) {
        Enqueue({std::string(e.raised ? "raised " : "cleared ") + e.rule.key, AlarmEnvironment(e, settings_.site)});
    }
}

void AlarmCommandOutput::OnAvailability(const site::AvailabilityChange& change, const site::SnapshotPtr&) {
    if (!change.availabilityChanged) return;
    const char* event = change.Available() ? "link-up" : "link-down";
    Enqueue({event,
             {Entry("TRM27K_EVENT", event), Entry("TRM27K_SITE", settings_.site),
              Entry("TRM27K_DEVICE", change.device), Entry("TRM27K_TIME", site::LocalIsoTime())}});
}

// Called on the poll thread: only a queue, never a wait for a command.
void AlarmCommandOutput::Enqueue(Job job) {
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;  // the run is ending: its own link-down is no news
        queued = waiting_.size() < settings_.maxQueued;
        if (queued) waiting_.push_back(std::move(job));
    }
    if (queued) {
        wake_.notify_one();
        return;
    }
    Log(spdlog::level::warn, "on-alarm: " + std::to_string(settings_.maxQueued) +
                                 " commands wait already; not run for " + job.about);
    Tell(job, "dropped");
}

void AlarmCommandOutput::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ || !running_.empty()) {
        if (running_.empty()) {
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        } else {
            wake_.wait_for(lock, kTick);
        }
        std::deque<Job> dropped;
        if (stopping_) dropped.swap(waiting_);
        lock.unlock();
        for (const Job& job : dropped) Tell(job, "dropped");
        StartWaiting();
        Reap();
        EnforceLimits();
        lock.lock();
    }
}

void AlarmCommandOutput::StartWaiting() {
    while (static_cast<int>(running_.size()) < settings_.maxRunning) {
        Job job;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (waiting_.empty()) return;
            job = std::move(waiting_.front());
            waiting_.pop_front();
        }
        Launch(std::move(job));
    }
}

// /bin/sh -c COMMAND in a process group of its own (so a limit stops what it
// started too), with the monitor's environment and the job's entries, its
// output on the monitor's standard error, and none of the monitor's files.
void AlarmCommandOutput::Launch(Job job) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "TRM27K_", 7) != 0) env.emplace_back(*e);
    }
    env.insert(env.end(), job.env.begin(), job.env.end());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string shell = "/bin/sh", flag = "-c", command = settings_.command;
    char* argv[] = {shell.data(), flag.data(), command.data(), nullptr};

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, STDERR_FILENO, STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&files, STDERR_FILENO + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : kDefaultSignals) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &files, &attr, argv, envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    if (error != 0) {
        Log(spdlog::level::warn, "on-alarm: cannot run the command for " + job.about + ": " + std::strerror(error));
        Json::Value fields(Json::objectValue);
        fields["reason"] = std::strerror(error);
        Tell(job, "failed", fields);
        return;
    }
    running_.push_back({pid, std::move(job), Clock::now()});
}

void AlarmCommandOutput::Reap() {
    for (auto it = running_.begin(); it != running_.end();) {
        int status = 0;
        if (waitpid(it->pid, &status, WNOHANG) != it->pid) {
            ++it;
            continue;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - it->started).count();
        Json::Value fields(Json::objectValue);
        fields["ms"] = static_cast<Json::Int64>(ms);
        const char* state = "done";
        std::string how;
        if (it->termSent) {
            state = "killed";
            how = "passed its time limit and was stopped";
        } else if (WIFEXITED(status)) {
            fields["status"] = WEXITSTATUS(status);
            if (WEXITSTATUS(status) != 0) state = "failed";
            how = "exited with status " + std::to_string(WEXITSTATUS(status));
        } else if (WIFSIGNALED(status)) {
            fields["signal"] = WTERMSIG(status);
            state = "failed";
            how = "was ended by signal " + std::to_string(WTERMSIG(status));
        }
        if (std::strcmp(state, "done") != 0) {
            Log(spdlog::level::warn, "on-alarm: the command for " + it->job.about + " " + how);
        }
        Tell(it->job, state, fields);
        it = running_.erase(it);
    }
}

void AlarmCommandOutput::EnforceLimits() {
    const auto now = Clock::now();
    for (Running& r : running_) {
        if (!r.termSent && now - r.started >= settings_.timeLimit) {
            kill(-r.pid, SIGTERM);
            r.termSent = true;
        } else if (r.termSent && now - r.started >= settings_.timeLimit + settings_.killGrace) {
            kill(-r.pid, SIGKILL);
        }
    }
}

void AlarmCommandOutput::Tell(const Job& job, const char* state, Json::Value fields) {
    fields["state"] = state;
    fields["about"] = job.about;
    model_.Report("alarm_command", std::move(fields));
}

}  // namespace alarm_command
