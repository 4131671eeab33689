#include "monitor_controller.h"

#include <unistd.h>

#include "PMBusProtocol.h"
#include "SMDVDevice.h"
#include "hex_text.h"
#include "local_time.h"

namespace monitor {

MonitorController::MonitorController(site::SiteModel& model, bool skipPauses)
    : model_(model), skipPauses_(skipPauses) {}

void MonitorController::PublishRecord(SMDVDevice& device, int type, const uint8_t* data,
                                      unsigned int length, bool) {
    ++recordsSinceReset_;
    model_.OnRecord(device.DataId(), device.DeviceType(), type, data, length, site::LocalIsoTime(), system_);
}

bool MonitorController::BatchCheck(SMDVDevice& device, const std::vector<rule_value>& rules) {
    return !model_.OnRules(rules, site::LocalIsoTime(), device.DeviceType()).empty();
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
    Json::Value v(Json::objectValue);
    v["step"] = device.Step();
    v["cid1"] = cid1;
    v["cid2"] = cid2;
    v["info"] = site::HexText(info, infoBytes);
    if (systemInEvents_) v["system"] = system_;
    model_.Report("command", std::move(v));
    return SMDController::SendCommand(device, cid1, cid2, info, infoLength);
}

void MonitorController::OnFrameError(PMBusProtocol&, const char* reason, const char* raw,
                                     size_t length) {
    Json::Value v(Json::objectValue);
    v["reason"] = reason;
    v["raw"] = std::string(raw, length);
    ReportFrameError(std::move(v));
}

void MonitorController::ReportFrameError(Json::Value fields) {
    if (++frameErrorsThisExchange_ > 1) return;
    model_.Report("frame_error", std::move(fields));
}

// The main device ends its cycle with a reset after every child published
// its record; a reset without records is a timeout or a refused reply.
void MonitorController::OnReset(SMDSPDevice&) {
    if (recordsSinceReset_ > 0) cycleEnded_ = true;
    recordsSinceReset_ = 0;
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

}  // namespace monitor
