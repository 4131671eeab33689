#pragma once
// What the monitor writes to the history: the images of each cycle (all of
// them, or only those that changed, with a row per child at least every few
// minutes), the alarm events, the active alarms and when each child was
// last seen, gathered per cycle and written in one transaction per cycle or
// per commit interval. A write that fails is never reported as saved: its
// rows stay pending and go with the next write (the oldest are dropped and
// counted as lost past a bound), each failure is a "storage" event, the first
// failure of each kind a log line; every saved image is a "history" event.
// Fed by the threshold worker; EndCycle and Flush run on the poll thread
// once the worker is idle. A lock keeps the two apart all the same.
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "event_log.h"
#include "history_store.h"
#include "image_change.h"

namespace monitor {

struct RecorderSettings {
    bool changesOnly = false;  // rows only for changed images (and the periodic one)
    int commitCycles = 1;      // cycles per transaction
    int retainDays = 30;       // 0: keep every row
    std::map<unsigned int, ChangeThresholds> thresholds;  // by data id
};

class HistoryRecorder {
public:
    HistoryRecorder(history::HistoryStore& store, EventLog& events, RecorderSettings settings);

    // A child's image at the end of its cycle.
    void AddImage(unsigned int dataId, const std::string& device, const uint8_t* data,
                  size_t length);
    // An alarm raised or cleared; the active set after it comes with EndCycle.
    void AddAlarm(history::AlarmRow row);
    // The cycle is complete: writes when a write is due (the commit's number
    // of cycles passed, an alarm changed, or the last write failed).
    void EndCycle(std::vector<history::ActiveAlarm> active);
    // At the stop: stores every image that differs from its stored one at
    // all, and writes what is pending.
    void Flush(std::vector<history::ActiveAlarm> active);

    // Rows that could not be written and were given up.
    uint64_t Lost() const { return lost_; }
    uint64_t Failures() const { return failures_; }

private:
    using Key = std::pair<unsigned int, std::string>;
    struct Child {
        std::vector<uint8_t> stored;  // the image of its newest row (written or pending)
        std::vector<uint8_t> latest;  // its image of the last cycle
        std::string seen;             // local time of the last cycle
        std::chrono::steady_clock::time_point storedAt{};
        bool hasRow = false;
    };

    void Queue(const Key& key, Child& child, const std::string& time);
    bool Due() const;
    void Commit(std::vector<history::ActiveAlarm> active);
    void Succeeded(const history::Batch& batch);
    void Failed(const std::string& reason);
    void DropBeyondBound();

    std::mutex mutex_;
    history::HistoryStore& store_;
    EventLog& events_;
    RecorderSettings settings_;
    std::map<Key, Child> children_;
    std::vector<history::ImageRow> images_;   // pending
    std::vector<history::AlarmRow> alarms_;   // pending
    bool alarmsChanged_ = false;
    int cyclesSinceWrite_ = 0;
    std::vector<std::string> reasonsLogged_;
    uint64_t failures_ = 0;
    uint64_t failuresSinceWrite_ = 0;
    uint64_t lost_ = 0;
};

}  // namespace monitor
