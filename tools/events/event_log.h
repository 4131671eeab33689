#pragma once
// The monitor's event file, a listener of the site model: JSON Lines, one
// object per line, each with "event", "time" (local time, ISO 8601, seconds)
// and "t_ms" (monotonic milliseconds), in the order things happen. Appended,
// never truncated; rotated by size (FILE.1 to FILE.N) and reopened on request.
//
// A line is made on the thread that reports the event (so its time is the
// event's) and written by the file's own thread: a slow card never holds up
// the poll. Lines waiting for the disk are bounded; past the bound they are
// lost and counted like lines a failed write lost.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "site_model.h"

namespace events {

struct EventFileSettings {
    uint64_t maxBytes = 0;  // rotate before the file would pass this size; 0: never
    int keep = 4;           // rotated files kept: FILE.1 (newest) to FILE.keep
    std::vector<std::string> omit;  // event kinds not written
};

class EventLog : public site::SiteListener {
public:
    static constexpr size_t kMaxQueuedBytes = 8u << 20;

    EventLog() = default;
    ~EventLog() override;  // writes what is queued, then stops
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Opens the file for appending (an earlier run's events stay); an empty
    // path keeps the log closed.
    bool Open(const std::string& path, std::string& error, EventFileSettings settings = {});
    bool IsOpen() const { return fd_ >= 0; }
    // Adds "event", "time" and "t_ms" to `fields` and queues one line, which
    // the file's thread appends with one write. A failed or short write is
    // taken back (never half a line), reported on standard error the first
    // time for each cause, and counted; the next line that gets through is
    // preceded by a "storage" event telling how many were lost.
    void Write(const char* event, Json::Value fields);
    void OnEvent(const char* kind, const Json::Value& fields) override { Write(kind, fields); }
    // Told on the file's thread when writes start failing (once until a line
    // gets through again), so the failure is counted where every counter is.
    void OnFailure(std::function<void(const std::string& reason)> hook) { onFailure_ = std::move(hook); }
    // Waits until every line queued so far was written or given up.
    void Flush();
    // Lines that could not be written.
    uint64_t Lost();

    // Async-signal-safe: the next Write reopens the file by its path (after
    // an external logrotate moved it away; for SIGHUP).
    static void RequestReopen();

private:
    bool Omitted(const char* event) const;
    std::string Line(const char* event, Json::Value fields);
    void Run();
    void WriteLine(const std::string& line);
    bool OpenFile(std::string& error);
    void DropCutLine();
    void RotateIfFull(size_t lineBytes);
    bool Append(const std::string& line);
    void ReportFailure(int error);

    std::mutex queueMutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::string> queue_;
    size_t queuedBytes_ = 0;
    uint64_t dropped_ = 0;  // lines the queue could not hold, not yet counted as lost
    bool writing_ = false;
    bool stop_ = false;

    // The file's thread only, after Open.
    std::string path_;
    EventFileSettings settings_;
    int fd_ = -1;
    bool regular_ = true;
    uint64_t size_ = 0;
    std::function<void(const std::string&)> onFailure_;
    std::mutex formatMutex_;
    std::unique_ptr<Json::StreamWriter> writer_;
    uint64_t lost_ = 0;
    uint64_t lostSinceWrite_ = 0;
    std::string lastFailure_;
    std::vector<int> causesReported_;
    std::thread thread_;  // last: started once the rest is set up
};

// Milliseconds on a monotonic clock since the first call: the "t_ms" of
// every event, for measuring cycles finer than the one-second "time".
int64_t MonotonicMs();

}  // namespace events
