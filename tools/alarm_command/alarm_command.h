#pragma once
// The command run on every alarm raise and clear, and on link loss and
// return: the operator's command line, run by /bin/sh, with the facts in
// TRM27K_* environment variables. Device texts reach the command only
// through the environment, never through the command line, so no text the
// device sends can run anything.
//
// Commands run on a thread of their own, at most `maxRunning` at once, each
// stopped after `timeLimit` (SIGTERM to its process group, SIGKILL a few
// seconds later). What waits beyond `maxQueued` is dropped. Each outcome is
// reported to the model as an "alarm_command" event; a failure, a kill or a
// drop is counted there.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "site_model.h"

namespace alarm_command {

struct Settings {
    std::string command;  // handed to /bin/sh -c as the operator wrote it
    std::string site;
    int maxRunning = 2;
    std::chrono::milliseconds timeLimit{30000};
    std::chrono::milliseconds killGrace{5000};  // from SIGTERM to SIGKILL
    size_t maxQueued = 64;
};

// One run: what it is about, and its environment entries ("NAME=value").
struct Job {
    std::string about;  // "raised AC_6", "link-down": for logs and events
    std::vector<std::string> env;
};

class AlarmCommandOutput : public site::SiteListener {
public:
    AlarmCommandOutput(site::SiteModel& model, Settings settings);
    ~AlarmCommandOutput() override;
    AlarmCommandOutput(const AlarmCommandOutput&) = delete;
    AlarmCommandOutput& operator=(const AlarmCommandOutput&) = delete;

    void Start();
    // Lets running commands finish within their limits; drops what waits.
    void Stop();

    void OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr& snapshot) override;
    void OnAvailability(const site::AvailabilityChange& change, const site::SnapshotPtr& snapshot) override;

private:
    struct Running {
        pid_t pid;
        Job job;
        std::chrono::steady_clock::time_point started;
        bool termSent = false;
    };

    void Enqueue(Job job);
    void Run();
    void StartWaiting();
    void Launch(Job job);
    void Reap();
    void EnforceLimits();
    void Tell(const Job& job, const char* state, Json::Value fields = Json::Value(Json::objectValue));

    site::SiteModel& model_;
    Settings settings_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> waiting_;
    bool stopping_ = false;
    std::vector<Running> running_;      // the runner thread's own
    std::thread thread_;
};

// The environment entries of one alarm raise or clear.
std::vector<std::string> AlarmEnvironment(const site::AlarmEvent& event, const std::string& site);

}  // namespace alarm_command
