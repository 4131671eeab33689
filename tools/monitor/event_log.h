#pragma once
// The monitor's event file: JSON Lines, one object per line, each with
// "event", "time" (local time, ISO 8601, seconds) and "t_ms" (monotonic
// milliseconds), in the order things happen. Written from the poll thread
// and the threshold worker alike. Appended, never truncated; rotated by size
// (FILE.1 to FILE.N) and reopened on request.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <json/json.h>

namespace monitor {

struct EventFileSettings {
    uint64_t maxBytes = 0;  // rotate before the file would pass this size; 0: never
    int keep = 4;           // rotated files kept: FILE.1 (newest) to FILE.keep
    std::vector<std::string> omit;  // event kinds not written
};

class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Opens the file for appending (an earlier run's events stay); an empty
    // path keeps the log closed.
    bool Open(const std::string& path, std::string& error, EventFileSettings settings = {});
    bool IsOpen() const { return fd_ >= 0; }
    // Adds "event", "time" and "t_ms" to `fields` and appends one line with
    // one write. A failed or short write is taken back (never half a line),
    // reported on standard error the first time for each cause, and counted;
    // the next line that gets through is preceded by a "storage" event
    // telling how many were lost.
    void Write(const char* event, Json::Value fields);
    // Lines that could not be written.
    uint64_t Lost() const { return lost_; }

    // Async-signal-safe: the next Write reopens the file by its path (after
    // an external logrotate moved it away; for SIGHUP).
    static void RequestReopen();

private:
    bool Omitted(const char* event) const;
    std::string Line(const char* event, Json::Value fields);
    bool OpenFile(std::string& error);
    void DropCutLine();
    void RotateIfFull(size_t lineBytes);
    bool Append(const std::string& line);
    void ReportFailure(int error);

    std::mutex mutex_;
    std::string path_;
    EventFileSettings settings_;
    int fd_ = -1;
    bool regular_ = true;
    uint64_t size_ = 0;
    std::unique_ptr<Json::StreamWriter> writer_;
    uint64_t lost_ = 0;
    uint64_t lostSinceWrite_ = 0;
    std::string lastFailure_;
    std::vector<int> causesReported_;
};

// Milliseconds on a monotonic clock since the first call: the "t_ms" of
// every event, for measuring cycles finer than the one-second "time".
int64_t MonotonicMs();
// Local time now as "2026-12-08T16:05:09".
std::string LocalIsoTime();
// Bytes as uppercase hex text.
std::string HexText(const uint8_t* data, size_t length);

}  // namespace monitor
