#pragma once
// The monitor's event file: JSON Lines, one object per line, each with
// "event", "time" (local time, ISO 8601, seconds) and "t_ms" (monotonic
// milliseconds), in the order things happen. Written from the poll thread and the threshold worker alike.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include <json/json.h>

namespace monitor {

class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Opens (truncates) the file; an empty path keeps the log closed.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return file_ != nullptr; }
    // Adds "event" and "time" to `fields` and writes one line.
    void Write(const char* event, Json::Value fields);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<Json::StreamWriter> writer_;
};

// Milliseconds on a monotonic clock since the first call: the "t_ms" of
// every event, for measuring cycles finer than the one-second "time".
int64_t MonotonicMs();
// Local time now as "2026-12-08T16:05:09".
std::string LocalIsoTime();
// Bytes as uppercase hex text.
std::string HexText(const uint8_t* data, size_t length);

}  // namespace monitor
