#include "history_recorder.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include <spdlog/spdlog.h>

#include "local_time.h"

namespace history {

namespace {
// A child gets a row at least this often, changed or not.
constexpr auto kRowEvery = std::chrono::minutes(5);
// Pending rows kept through failed writes; beyond, the oldest are lost.
constexpr size_t kMaxPendingRows = 2000;

void Log(spdlog::level::level_enum level, const std::string& text) {
    if (auto logger = spdlog::get("trm27k")) logger->log(level, "{}", text);
}

ImageRow RowOf(const site::ChildState& child) {
    ImageRow row;
    row.time = child.time;
    row.dataId = child.dataId;
    row.device = child.device;
    row.recordType = child.recordType;
    row.image = child.image;
    return row;
}

AlarmRow RowOf(const site::AlarmEvent& e, const std::string& device) {
    const rule_value& r = e.rule;
    return {e.raised ? e.raisedTime : e.clearedTime, r.data_id, device, e.raised ? "raised" : "cleared",
            r.level, r.key, r.code, r.name, r.detail};
}

std::string DeviceOf(const site::Snapshot& s, const rule_value& rule) {
    for (const site::RuleState& r : s.rules) {
        if (r.rule.data_id == rule.data_id && r.rule.key == rule.key && r.rule.detail == rule.detail) {
            return r.device;
        }
    }
    return "";
}

std::vector<ActiveAlarm> ActiveOf(const site::Snapshot& s) {
    std::vector<ActiveAlarm> active;
    for (const site::RuleState& r : s.rules) {
        if (r.rule.active == 0) continue;
        active.push_back({r.raisedTime, r.rule.data_id, r.device, "", r.rule.level, r.rule.key,
                          r.rule.code, r.rule.name, r.rule.detail});
    }
    return active;
}

template <class T>
void Append(std::vector<T>& to, std::vector<T>& from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
    from.clear();
}
}  // namespace

HistoryRecorder::HistoryRecorder(HistoryStore& store, site::SiteModel& model, RecorderSettings settings)
    : store_(store), model_(model), settings_(std::move(settings)) {}

HistoryRecorder::~HistoryRecorder() { Stop(); }

void HistoryRecorder::Start() {
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "history");  // as top -H and ps -L show it
        Run();
    });
}

// On the feeding thread: copies the rows of the cycle, nothing more.
void HistoryRecorder::OnCycle(const site::SnapshotPtr& snapshot) {
    const auto now = Clock::now();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (const site::ChildState& child : snapshot->children) {
            if (child.seq != snapshot->seq) continue;  // not published in this cycle
            const Key key{child.dataId, child.device};
            const auto last = lastRow_.find(key);
            const bool due = last == lastRow_.end() || now - last->second >= kRowEvery;
            if (settings_.changesOnly && !child.changed && !due) continue;
            open_.images.push_back(RowOf(child));
            lastRow_[key] = now;
            rowSeq_[key] = child.seq;
        }
        ++open_.cycles;
        open_.seq = snapshot->seq;
        Append(closed_.images, open_.images);
        Append(closed_.alarms, open_.alarms);
        closed_.cycles += open_.cycles;
        closed_.seq = open_.seq;
        open_ = Pending{};
        latest_ = snapshot;
        // A writer that succeeds takes them within the commit interval and
        // the lag; only failed writes make rows pile up.
        if (failing_) DropBeyondBound();
        wake_.notify_one();
        WaitForRoom(lock);
    }
}

bool HistoryRecorder::TooFarBehind() const {
    return !failing_ && !stop_ && closed_.cycles + writingCycles_ > settings_.commitCycles + kMaxLagCycles;
}

// The poll waits for a writer that fell too far behind, and says so at most
// once a minute with how often and how long it waited.
void HistoryRecorder::WaitForRoom(std::unique_lock<std::mutex>& lock) {
    if (!TooFarBehind()) return;
    const auto started = Clock::now();
    room_.wait(lock, [this] { return !TooFarBehind(); });
    const auto now = Clock::now();
    ++waits_;
    waited_ += now - started;
    // Short waits (a writer starting up, a burst) are only counted; a
    // second of waiting in all is worth telling, once a minute at most.
    if (waited_ < std::chrono::seconds(1)) return;
    if (waitToldAt_ != Clock::time_point{} && now - waitToldAt_ < std::chrono::minutes(1)) return;
    waitToldAt_ = now;
    Json::Value v(Json::objectValue);
    v["target"] = "history";
    v["state"] = "waiting";
    v["reason"] = "the history cannot keep up; the poll waits for it";
    v["waits"] = static_cast<Json::UInt64>(waits_);
    v["waited_ms"] = std::chrono::duration<double, std::milli>(waited_).count();
    waits_ = 0;
    waited_ = {};
    lock.unlock();
    model_.Report("storage", std::move(v));
    lock.lock();
}

void HistoryRecorder::OnAlarms(const std::vector<site::AlarmEvent>& events, const site::SnapshotPtr& snapshot) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const site::AlarmEvent& e : events) open_.alarms.push_back(RowOf(e, DeviceOf(*snapshot, e.rule)));
}

// Pending rows are bounded while writes fail: a disk that stays full must not
// fill memory.
void HistoryRecorder::DropBeyondBound() {
    const auto trim = [this](auto& rows) {
        if (rows.size() <= kMaxPendingRows) return;
        const size_t drop = rows.size() - kMaxPendingRows;
        rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(drop));
        lost_ += drop;
    };
    trim(closed_.images);
    trim(closed_.alarms);
}

// The rows are due when the commit's number of cycles passed, a cycle brought
// alarm changes, or the last write failed (then at every cycle).
bool HistoryRecorder::RowsDue() const {
    if (closed_.cycles == 0) return false;
    return closed_.cycles >= settings_.commitCycles || !closed_.alarms.empty() || failing_;
}

bool HistoryRecorder::Due() const { return RowsDue() || hooksWaiting_; }

void HistoryRecorder::WriteSoon(uint64_t seq) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hooksWaiting_ = true;
        hooksSeq_ = std::max(hooksSeq_, seq);
    }
    wake_.notify_one();
}

// No rows: only what the commit hooks stage, up to the newest cycle they
// asked for or this recorder saw.
Batch HistoryRecorder::HooksOnlyBatch() const {
    Batch batch;
    batch.seq = std::max(latest_ ? latest_->seq : 0, hooksSeq_);
    return batch;
}

Batch HistoryRecorder::TakeBatch(bool all) {
    if (all) {
        Append(closed_.images, open_.images);
        Append(closed_.alarms, open_.alarms);
    }
    Batch batch;
    batch.images = std::move(closed_.images);
    batch.alarms = std::move(closed_.alarms);
    // The hooks may stage cycles whose rows are still open: a cycle's
    // outbox rows may come before its history rows, never after them.
    batch.seq = all ? UINT64_MAX : std::max(closed_.seq, hooksSeq_);
    closed_ = Pending{};
    if (latest_) {
        // The active set changes only with a raise or a clear.
        batch.replaceActive = !batch.alarms.empty();
        batch.durable = batch.replaceActive;
        if (batch.replaceActive) batch.active = ActiveOf(*latest_);
        for (const site::ChildState& child : latest_->children) {
            if (!child.time.empty()) batch.seen.push_back({child.dataId, child.device, child.time});
        }
    }
    if (settings_.retainDays > 0) {
        batch.pruneBefore = site::LocalIsoTimeAt(std::time(nullptr) - settings_.retainDays * 86400L);
    }
    return batch;
}

void HistoryRecorder::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stop_ || Due(); });
        if (stop_) break;
        const bool rows = RowsDue();
        writingCycles_ = rows ? closed_.cycles : 0;
        hooksWaiting_ = false;
        Batch batch = rows ? TakeBatch(false) : HooksOnlyBatch();
        lock.unlock();
        Write(std::move(batch));
        lock.lock();
        writingCycles_ = 0;
        room_.notify_all();
    }
    QueueFinalRows();
    Batch batch = TakeBatch(true);
    lock.unlock();
    Write(std::move(batch));
    lock.lock();
    // Nothing comes after the stop.
    lost_ += closed_.images.size() + closed_.alarms.size();
    closed_ = Pending{};
}

// The restore after a restart takes each child's newest row: every child
// whose newest image did not get one gets it now.
void HistoryRecorder::QueueFinalRows() {
    if (!latest_) return;
    for (const site::ChildState& child : latest_->children) {
        const auto row = rowSeq_.find({child.dataId, child.device});
        if (row != rowSeq_.end() && row->second == child.seq) continue;
        closed_.images.push_back(RowOf(child));
    }
}

void HistoryRecorder::Write(Batch batch) {
    if (settings_.commitDelay.count() > 0) std::this_thread::sleep_for(settings_.commitDelay);
    std::string reason;
    if (store_.Write(batch, reason)) {
        Succeeded(batch);
        return;
    }
    Failed(std::move(batch), reason);
}

void HistoryRecorder::Succeeded(const Batch& batch) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failing_ = false;
    }
    for (const ImageRow& row : batch.images) {
        Json::Value v(Json::objectValue);
        v["data_id"] = row.dataId;
        v["device"] = row.device;
        v["length"] = static_cast<Json::UInt64>(row.image.size());
        v["saved"] = row.time;
        model_.Report("history", std::move(v));
    }
    if (failuresSinceWrite_ == 0) return;
    const uint64_t lost = Lost() - lostWhenFailing_;
    Log(spdlog::level::info, "history writes resumed after " + std::to_string(failuresSinceWrite_) +
                                 " failed writes; " + std::to_string(lost) + " rows lost meanwhile");
    Json::Value v(Json::objectValue);
    v["target"] = "history";
    v["state"] = "resumed";
    v["failures"] = static_cast<Json::UInt64>(failuresSinceWrite_);
    v["lost"] = static_cast<Json::UInt64>(lost);
    model_.Report("storage", std::move(v));
    failuresSinceWrite_ = 0;
}

// The batch's rows go back in front of what came meanwhile, for the next write.
void HistoryRecorder::Failed(Batch batch, const std::string& reason) {
    if (++failuresSinceWrite_ == 1) lostWhenFailing_ = Lost();
    if (std::find(reasonsLogged_.begin(), reasonsLogged_.end(), reason) == reasonsLogged_.end()) {
        reasonsLogged_.push_back(reason);
        Log(spdlog::level::err, "history write failed: " + reason +
                                    " (rows are kept and written again; further failures of this "
                                    "kind are only counted)");
    }
    uint64_t pending = 0, lost = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failing_ = true;
        Append(batch.images, closed_.images);
        Append(batch.alarms, closed_.alarms);
        closed_.images = std::move(batch.images);
        closed_.alarms = std::move(batch.alarms);
        DropBeyondBound();
        pending = closed_.images.size() + closed_.alarms.size();
        lost = lost_;
    }
    // One event when the failures start; the resumed event tells the rest.
    Json::Value v(Json::objectValue);
    v["target"] = "history";
    v["state"] = "failed";
    v["reason"] = reason;
    v["pending"] = static_cast<Json::UInt64>(pending);
    v["lost"] = static_cast<Json::UInt64>(lost);
    if (failuresSinceWrite_ == 1) {
        model_.Report("storage", std::move(v));
    } else {
        model_.CountOnly("storage", v);
    }
}

void HistoryRecorder::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    room_.notify_all();
    thread_.join();
}

uint64_t HistoryRecorder::Lost() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
}

}  // namespace history
