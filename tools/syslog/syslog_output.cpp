#include "syslog_output.h"

#include <pthread.h>

#include <syslog.h>

#include "alarm_names.h"

namespace syslog_output {

namespace {
// Lines beyond this wait for nothing: the journal has fallen far behind.
constexpr size_t kMaxWaiting = 256;

void ToSyslog(const Line& line) { syslog(line.priority, "%s", line.text.c_str()); }
}  // namespace

int PriorityOfLevel(int level) {
    switch (level) {
        case 1: return LOG_CRIT;
        case 2: return LOG_ERR;
        case 3: return LOG_WARNING;
        default: return LOG_NOTICE;
    }
}

SyslogOutput::SyslogOutput(Sink sink) : sink_(std::move(sink)) {
    if (!sink_) {
        openlog("trm27k-monitor", LOG_PID, LOG_DAEMON);
        sink_ = ToSyslog;
    }
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "syslog");  // as top -H and ps -L show it
        Run();
    });
}

SyslogOutput::~SyslogOutput() { Stop(); }

void SyslogOutput::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void SyslogOutput::OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr&) {
    for (const site::AlarmEvent& e : events) {
        const std::string what = site::EnglishName(e.rule.name, e.rule.detail) + " [" + e.rule.name + " " +
                                 e.rule.detail + "] data_id " + std::to_string(e.rule.data_id) + " " + e.rule.key;
        if (e.raised) {
            Put(PriorityOfLevel(e.rule.level), "alarm raised, level " + std::to_string(e.rule.level) + ": " + what);
        } else {
            Put(LOG_NOTICE, "alarm cleared: " + what);
        }
    }
}

// Only changes are told (the model decides them); with several power
// systems each line names its own.
void SyslogOutput::OnAvailability(const site::AvailabilityChange& c, const site::SnapshotPtr& s) {
    const std::string of = s->Several() ? " (" + c.device + ")" : "";
    if (c.linkChanged) Put(c.linkUp ? LOG_NOTICE : LOG_ERR, (c.linkUp ? "link up" : "link down") + of);
    if (c.stallChanged) {
        Put(c.stalled ? LOG_ERR : LOG_NOTICE, (c.stalled ? "poll stalled" : "poll running again") + of);
    }
}

void SyslogOutput::OnEvent(const char* kind, const Json::Value& fields) {
    if (std::string(kind) != "storage" || fields.get("state", "").asString() != "failed") return;
    Put(LOG_ERR, "storage failed: " + fields.get("target", "").asString() + ": " +
                     fields.get("reason", "").asString());
}

void SyslogOutput::Put(int priority, std::string text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_.size() >= kMaxWaiting) return;
        waiting_.push_back({priority, std::move(text)});
    }
    wake_.notify_one();
}

void SyslogOutput::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (waiting_.empty()) return;  // stopping, and everything written
        const Line line = std::move(waiting_.front());
        waiting_.pop_front();
        lock.unlock();
        sink_(line);
        lock.lock();
    }
}

}  // namespace syslog_output
