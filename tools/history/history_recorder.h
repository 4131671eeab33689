#pragma once
// The history file, a listener of the site model: each cycle's images (all
// of them, or only those the model counts as changed, with a row per child
// at least every few minutes), the alarm raises and clears, the active
// alarms and when each child was last seen, written by the recorder's own
// thread in one transaction per cycle or per commit interval, so a slow
// card never holds up the poll.
//
// The listener calls only copy what a row needs. The writer may fall behind
// by the commit interval and kMaxLagCycles more; only then does a cycle's end
// wait for it (a "storage" event says so once the waits make a second, at
// most once a minute), so a
// power cut or a kill loses at most that many cycles. While writes fail the
// poll never waits: rows beyond a bound are dropped and counted instead.
// A transaction always ends
// at a cycle's end: the alarms of a cycle go with its images, and the commit
// hooks (the MQTT outbox) are told that cycle. A transaction with alarm
// changes is synced to the card before it counts as written. A hook that
// must not wait for the commit interval asks for a write (WriteSoon): it
// gets a transaction of its own at once, the rows stay for their interval. A write that fails is never
// reported as saved: its rows stay pending and go with the next write (the
// oldest are dropped and counted as lost past a bound); the first failure
// of a run is a "storage" event, the first failure of each kind a log line,
// the others are only counted, and the first write that succeeds again is a
// "storage" event with the failures and the rows lost meanwhile; every saved
// image is a "history" event. Both reach the event file through the model.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "history_store.h"
#include "site_model.h"

namespace history {

struct RecorderSettings {
    bool changesOnly = false;  // rows only for changed images (and the periodic one)
    int commitCycles = 1;      // cycles per transaction
    int retainDays = 30;       // 0: keep every row
    // A pause before every write, for tests that show a slow card holds up
    // nothing (the environment's TRM27K_TEST_COMMIT_DELAY_MS).
    std::chrono::milliseconds commitDelay{0};
};

class HistoryRecorder : public site::SiteListener {
public:
    static constexpr int kMaxLagCycles = 8;

    HistoryRecorder(HistoryStore& store, site::SiteModel& model, RecorderSettings settings);
    ~HistoryRecorder() override;
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    void Start();
    void OnCycle(const site::SnapshotPtr& snapshot) override;
    void OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr& snapshot) override;
    // A commit hook has something of cycle `seq` that must not wait for the
    // commit interval: its statements are written at once, in a transaction
    // of their own, told that cycle even when this recorder has not heard of
    // it yet (the hook's listener call may come first). Any thread.
    void WriteSoon(uint64_t seq);
    // At the stop: a row for every child whose last row is not of its newest
    // image, then everything pending, written; the thread ends.
    void Stop();

    // Rows that could not be written and were given up.
    uint64_t Lost();

private:
    using Clock = std::chrono::steady_clock;
    using Key = std::pair<unsigned int, std::string>;
    // What the listener calls gathered; a transaction takes the closed part.
    struct Pending {
        std::vector<ImageRow> images;
        std::vector<AlarmRow> alarms;
        int cycles = 0;
        uint64_t seq = 0;
    };

    void Run();
    bool Due() const;
    bool RowsDue() const;
    Batch HooksOnlyBatch() const;
    bool TooFarBehind() const;
    void WaitForRoom(std::unique_lock<std::mutex>& lock);
    Batch TakeBatch(bool all);
    void Write(Batch batch);
    void Succeeded(const Batch& batch);
    void Failed(Batch batch, const std::string& reason);
    void DropBeyondBound();
    void QueueFinalRows();

    HistoryStore& store_;
    site::SiteModel& model_;
    RecorderSettings settings_;

    std::mutex mutex_;  // everything below but the thread
    std::condition_variable wake_;
    std::condition_variable room_;  // the writer caught up
    int writingCycles_ = 0;          // cycles in the transaction being written
    uint64_t waits_ = 0;             // cycle ends that waited since last told
    Clock::duration waited_{};
    Clock::time_point waitToldAt_{};
    Pending open_;    // since the last cycle's end
    Pending closed_;  // whole cycles, waiting for the writer
    site::SnapshotPtr latest_;  // the snapshot of the newest cycle end
    std::map<Key, Clock::time_point> lastRow_;  // when each child last got a row
    std::map<Key, uint64_t> rowSeq_;            // the cycle of that row
    bool failing_ = false;
    bool hooksWaiting_ = false;  // a hook asked for a write
    uint64_t hooksSeq_ = 0;      // ... up to this cycle
    bool stop_ = false;
    uint64_t lost_ = 0;

    // The writer's thread only.
    std::vector<std::string> reasonsLogged_;
    uint64_t failuresSinceWrite_ = 0;
    uint64_t lostWhenFailing_ = 0;  // rows lost before the failures began
    std::thread thread_;
};

}  // namespace history
