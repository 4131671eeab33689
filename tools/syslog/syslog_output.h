#pragma once
// What matters on a power system, to syslog and so to the journal: alarm
// raises and clears, link and poll changes and storage failures, each with a
// priority that follows its weight (a level-1 alarm is critical), so that
// `journalctl -p warning -u trm27k-monitor` shows just these. Lines are
// handed to a thread of its own: a slow log socket never holds up the poll.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "site_model.h"

namespace syslog_output {

struct Line {
    int priority;  // LOG_CRIT ... LOG_NOTICE
    std::string text;
};

// The syslog priority of an alarm raise at `level` (1 is the most severe).
int PriorityOfLevel(int level);

class SyslogOutput : public site::SiteListener {
public:
    using Sink = std::function<void(const Line&)>;
    // Without a sink the lines go to syslog(3) as "trm27k-monitor".
    explicit SyslogOutput(Sink sink = nullptr);
    ~SyslogOutput() override;
    SyslogOutput(const SyslogOutput&) = delete;
    SyslogOutput& operator=(const SyslogOutput&) = delete;

    // Writes what waits, then stops the thread.
    void Stop();

    void OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr& snapshot) override;
    void OnAvailability(const site::AvailabilityChange& change, const site::SnapshotPtr& snapshot) override;
    void OnEvent(const char* kind, const Json::Value& fields) override;

private:
    void Put(int priority, std::string text);
    void Run();

    Sink sink_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Line> waiting_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace syslog_output
