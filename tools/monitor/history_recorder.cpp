#include "history_recorder.h"

#include <algorithm>
#include <ctime>

#include <spdlog/spdlog.h>

namespace monitor {

namespace {
using Clock = std::chrono::steady_clock;
// A child gets a row at least this often, changed or not.
constexpr auto kRowEvery = std::chrono::minutes(5);
// Pending rows kept through failed writes; beyond, the oldest are lost.
constexpr size_t kMaxPendingRows = 2000;

std::string LocalIsoTimeAt(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

void Log(spdlog::level::level_enum level, const std::string& text) {
    if (auto logger = spdlog::get("trm27k")) logger->log(level, "{}", text);
}
}  // namespace

HistoryRecorder::HistoryRecorder(history::HistoryStore& store, EventLog& events,
                                 RecorderSettings settings)
    : store_(store), events_(events), settings_(std::move(settings)) {}

void HistoryRecorder::AddImage(unsigned int dataId, const std::string& device,
                               const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Key key{dataId, device};
    Child& child = children_[key];
    child.latest.assign(data, data + length);
    child.seen = LocalIsoTime();
    const int type = history::RecordTypeOf(device);
    const auto t = settings_.thresholds.find(dataId);
    const ChangeThresholds thresholds = t == settings_.thresholds.end() ? ChangeThresholds{} : t->second;
    const bool store = !settings_.changesOnly || !child.hasRow ||
                       Clock::now() - child.storedAt >= kRowEvery ||
                       ImageChanged(type, child.stored.data(), child.stored.size(), data, length,
                                    thresholds);
    if (store) Queue(key, child, child.seen);
}

void HistoryRecorder::Queue(const Key& key, Child& child, const std::string& time) {
    child.stored = child.latest;
    child.storedAt = Clock::now();
    child.hasRow = true;
    history::ImageRow row;
    row.time = time;
    row.dataId = key.first;
    row.device = key.second;
    row.recordType = history::RecordTypeOf(key.second);
    row.image = child.latest;
    images_.push_back(std::move(row));
}

void HistoryRecorder::AddAlarm(history::AlarmRow row) {
    std::lock_guard<std::mutex> lock(mutex_);
    alarms_.push_back(std::move(row));
    alarmsChanged_ = true;
}

bool HistoryRecorder::Due() const {
    return cyclesSinceWrite_ >= settings_.commitCycles || alarmsChanged_ ||
           failuresSinceWrite_ > 0;
}

void HistoryRecorder::EndCycle(std::vector<history::ActiveAlarm> active) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++cyclesSinceWrite_;
    if (Due()) Commit(std::move(active));
}

void HistoryRecorder::Flush(std::vector<history::ActiveAlarm> active) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [key, child] : children_) {
        if (child.latest.empty()) continue;
        if (ImageDiffers(history::RecordTypeOf(key.second), child.stored.data(),
                         child.stored.size(), child.latest.data(), child.latest.size())) {
            Queue(key, child, child.seen);
        }
    }
    Commit(std::move(active));
    lost_ += images_.size() + alarms_.size();  // nothing comes after the stop
    images_.clear();
    alarms_.clear();
}

void HistoryRecorder::Commit(std::vector<history::ActiveAlarm> active) {
    history::Batch batch;
    batch.images = std::move(images_);
    batch.alarms = std::move(alarms_);
    batch.replaceActive = alarmsChanged_;
    batch.active = std::move(active);
    for (const auto& [key, child] : children_) {
        if (!child.seen.empty()) batch.seen.push_back({key.first, key.second, child.seen});
    }
    if (settings_.retainDays > 0) {
        batch.pruneBefore = LocalIsoTimeAt(std::time(nullptr) - settings_.retainDays * 86400L);
    }
    std::string reason;
    if (store_.Write(batch, reason)) {
        Succeeded(batch);
        return;
    }
    images_ = std::move(batch.images);
    alarms_ = std::move(batch.alarms);
    Failed(reason);
}

void HistoryRecorder::Succeeded(const history::Batch& batch) {
    cyclesSinceWrite_ = 0;
    alarmsChanged_ = false;
    for (const history::ImageRow& row : batch.images) {
        Json::Value v(Json::objectValue);
        v["data_id"] = row.dataId;
        v["device"] = row.device;
        v["length"] = static_cast<Json::UInt64>(row.image.size());
        v["saved"] = row.time;
        events_.Write("history", std::move(v));
    }
    if (failuresSinceWrite_ == 0) return;
    Log(spdlog::level::info, "history writes resumed after " + std::to_string(failuresSinceWrite_) +
                                 " failed writes; " + std::to_string(lost_) + " rows lost so far");
    Json::Value v(Json::objectValue);
    v["target"] = "history";
    v["state"] = "resumed";
    v["failures"] = static_cast<Json::UInt64>(failuresSinceWrite_);
    v["lost"] = static_cast<Json::UInt64>(lost_);
    events_.Write("storage", std::move(v));
    failuresSinceWrite_ = 0;
}

void HistoryRecorder::Failed(const std::string& reason) {
    ++failures_;
    ++failuresSinceWrite_;
    if (std::find(reasonsLogged_.begin(), reasonsLogged_.end(), reason) == reasonsLogged_.end()) {
        reasonsLogged_.push_back(reason);
        Log(spdlog::level::err, "history write failed: " + reason +
                                    " (rows are kept and written again; further failures of this "
                                    "kind are only counted)");
    }
    DropBeyondBound();
    Json::Value v(Json::objectValue);
    v["target"] = "history";
    v["state"] = "failed";
    v["reason"] = reason;
    v["pending"] = static_cast<Json::UInt64>(images_.size() + alarms_.size());
    v["lost"] = static_cast<Json::UInt64>(lost_);
    events_.Write("storage", std::move(v));
}

// Pending rows are bounded: a disk that stays full must not fill memory.
void HistoryRecorder::DropBeyondBound() {
    if (images_.size() > kMaxPendingRows) {
        const size_t drop = images_.size() - kMaxPendingRows;
        images_.erase(images_.begin(), images_.begin() + static_cast<std::ptrdiff_t>(drop));
        lost_ += drop;
    }
    if (alarms_.size() > kMaxPendingRows) {
        const size_t drop = alarms_.size() - kMaxPendingRows;
        alarms_.erase(alarms_.begin(), alarms_.begin() + static_cast<std::ptrdiff_t>(drop));
        lost_ += drop;
    }
}

}  // namespace monitor
