#include "monitor_controller.h"

#include <unistd.h>

#include "PMBusProtocol.h"
#include "SMDVDevice.h"

namespace monitor {

namespace {
constexpr int kRectifierRecord = 5177;  // the last record of every poll cycle

Json::Value DeviceJson(const SMDVDevice& device) {
    Json::Value v(Json::objectValue);
    v["data_id"] = device.DataId();
    v["device"] = device.DeviceType();
    return v;
}
}  // namespace

Json::Value RuleJson(const rule_value& rule) {
    Json::Value v(Json::objectValue);
    v["level"] = rule.level;
    v["key"] = rule.key;
    v["code"] = rule.code;
    v["name"] = rule.name;
    v["detail"] = rule.detail;
    v["active"] = rule.active != 0;
    v["seq"] = rule.sequence;
    return v;
}

MonitorController::MonitorController(EventLog& events, HistoryRecorder& history,
                                     site::SiteModel& model, bool skipPauses, bool allRules)
    : events_(events), history_(history), model_(model), skipPauses_(skipPauses), allRules_(allRules) {
    queue_.OnWait([this](std::chrono::steady_clock::duration waited) { StorageWaited(waited); });
}

// The poll waited for the history: told at most once a minute, with how
// often and how long it waited since the last time it was told.
void MonitorController::StorageWaited(std::chrono::steady_clock::duration waited) {
    constexpr auto kEvery = std::chrono::minutes(1);
    ++storageWaits_;
    storageWaited_ += waited;
    const auto now = std::chrono::steady_clock::now();
    if (storageToldAt_.time_since_epoch().count() != 0 && now - storageToldAt_ < kEvery) return;
    storageToldAt_ = now;
    Json::Value v(Json::objectValue);
    v["state"] = "waiting";
    v["reason"] = "the history cannot keep up; the poll waits for it";
    v["waits"] = static_cast<Json::UInt64>(storageWaits_);
    v["waited_ms"] = std::chrono::duration<double, std::milli>(storageWaited_).count();
    events_.Write("storage", std::move(v));
    storageWaits_ = 0;
    storageWaited_ = {};
}

void MonitorController::PublishRecord(SMDVDevice& device, int type, const uint8_t* data,
                                      unsigned int length, bool) {
    Json::Value v = DeviceJson(device);
    v["type"] = type;
    v["length"] = length;
    v["image"] = HexText(data, length);
    events_.Write("record", std::move(v));
    model_.OnRecord(device.DataId(), device.DeviceType(), type, data, length, LocalIsoTime());
    {
        std::lock_guard<std::mutex> lock(imagesMutex_);
        latest_[{device.DataId(), type}].assign(data, data + length);
    }
    if (type == kRectifierRecord) cycleEnded_ = true;
}

// Runs in the work item after the batch; the recorder decides whether the
// image becomes a row, and reports it once it is written.
void MonitorController::SaveHistory(SMDVDevice& device, const uint8_t* data, unsigned int length) {
    history_.AddImage(device.DataId(), device.DeviceType(), data, length);
}

bool MonitorController::BatchCheck(SMDVDevice& device, const std::vector<rule_value>& rules) {
    std::vector<AlarmChange> changes;
    {
        std::lock_guard<std::mutex> lock(alarmsMutex_);
        changes = alarms_.Apply(rules);
        for (const AlarmChange& change : changes) {
            deviceTypes_[{change.rule.data_id, change.rule.key}] = device.DeviceType();
        }
    }
    if (allRules_ || !changes.empty()) {
        Json::Value batch = DeviceJson(device);
        batch["changed"] = !changes.empty();
        batch["rules"] = Json::Value(Json::arrayValue);
        for (const rule_value& rule : rules) batch["rules"].append(RuleJson(rule));
        events_.Write("rules", std::move(batch));
    }
    model_.OnRules(rules, LocalIsoTime());
    for (const AlarmChange& change : changes) {
        const rule_value& r = change.rule;
        Json::Value v = DeviceJson(device);
        v["state"] = change.raised ? "raised" : "cleared";
        for (const char* field : {"level", "key", "code", "name", "detail"}) {
            v[field] = RuleJson(r)[field];
        }
        events_.Write("alarm", v);
        history_.AddAlarm({LocalIsoTime(), device.DataId(), device.DeviceType(),
                           v["state"].asString(), r.level, r.key, r.code, r.name, r.detail});
    }
    return !changes.empty();
}

// The cycle's work items are quick (rules, events); waiting for them keeps
// the history one cycle behind the line at most, whatever the pace.
void MonitorController::EndCycle() {
    queue_.Drain();
    history_.EndCycle(ActiveAlarmRows());
}

void MonitorController::RestoreAlarms(const std::vector<history::ActiveAlarm>& active) {
    std::lock_guard<std::mutex> lock(alarmsMutex_);
    for (const history::ActiveAlarm& a : active) {
        rule_value rule;
        rule.level = static_cast<uint8_t>(a.level);
        rule.key = a.key;
        rule.code = a.code;
        rule.name = a.name;
        rule.detail = a.detail;
        rule.data_id = a.dataId;
        alarms_.Restore(rule);
        deviceTypes_[{a.dataId, a.key}] = a.device;
    }
}

std::vector<history::ActiveAlarm> MonitorController::ActiveAlarmRows() {
    std::lock_guard<std::mutex> lock(alarmsMutex_);
    std::vector<history::ActiveAlarm> rows;
    for (const rule_value& r : alarms_.Active()) {
        history::ActiveAlarm a;
        a.dataId = r.data_id;
        a.device = deviceTypes_[{r.data_id, r.key}];
        a.level = r.level;
        a.key = r.key;
        a.code = r.code;
        a.name = r.name;
        a.detail = r.detail;
        rows.push_back(std::move(a));
    }
    return rows;
}

void MonitorController::BatchPending(SMDVDevice& device) {
    if (device.PendingRules().empty()) return;
    auto rules = device.TakePendingRules();
    std::shared_ptr<SMDVDevice> self = device.shared_from_this();
    queue_.Post([this, self, rules = std::move(rules)] { BatchCheck(*self, rules); });
}

bool MonitorController::SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2,
                                    const uint8_t* info, int infoLength) {
    frameErrorsThisExchange_ = 0;
    const size_t infoBytes = infoLength > 0 && info != nullptr ? static_cast<size_t>(infoLength) : 0;
    bytesSent_ += 18 + 2 * infoBytes;
    model_.Add(site::SiteModel::Count::Exchange);
    Json::Value v(Json::objectValue);
    v["step"] = device.Step();
    v["cid1"] = cid1;
    v["cid2"] = cid2;
    v["info"] = HexText(info, infoBytes);
    events_.Write("command", std::move(v));
    return SMDController::SendCommand(device, cid1, cid2, info, infoLength);
}

void MonitorController::OnFrameError(PMBusProtocol&, const char* reason, const char* raw,
                                     size_t length) {
    CountFrameError();
    if (frameErrorsThisExchange_ > 1) return;
    Json::Value v(Json::objectValue);
    v["reason"] = reason;
    v["raw"] = std::string(raw, length);
    model_.Add(site::SiteModel::Count::FrameError);
    events_.Write("frame_error", std::move(v));
}

void MonitorController::NoteLogLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(logMutex_);
    lastLogLine_ = text;
}

std::string MonitorController::LastLogLine() {
    std::lock_guard<std::mutex> lock(logMutex_);
    return lastLogLine_;
}

void MonitorController::Pause(unsigned int microseconds) {
    if (!skipPauses_) ::usleep(microseconds);
}

std::vector<rule_value> MonitorController::ActiveAlarms() {
    std::lock_guard<std::mutex> lock(alarmsMutex_);
    return alarms_.Active();
}

std::vector<uint8_t> MonitorController::LatestImage(unsigned int dataId, int type) {
    std::lock_guard<std::mutex> lock(imagesMutex_);
    auto it = latest_.find({dataId, type});
    return it == latest_.end() ? std::vector<uint8_t>() : it->second;
}

}  // namespace monitor
