#pragma once
// The reference host's controller: the event file, the history, the
// threshold service on its worker thread, the log sink and the line.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include "SMDController.h"
#include "alarm_tracker.h"
#include "event_log.h"
#include "history_store.h"
#include "work_queue.h"

namespace monitor {

class MonitorController : public SMDController {
public:
    MonitorController(EventLog& events, history::HistoryStore& store, bool skipPauses);

    void PublishRecord(SMDVDevice& device, int type, const uint8_t* data, unsigned int length,
                       bool flag) override;
    void SaveHistory(SMDVDevice& device, const uint8_t* data, unsigned int length) override;
    void RunWork(std::function<void()> work) override { queue_.Post(std::move(work)); }
    bool BatchCheck(SMDVDevice& device, const std::vector<rule_value>& rules) override;
    bool SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                     int infoLength) override;
    void OnFrameError(PMBusProtocol& device, const char* reason, const char* raw,
                      size_t length) override;
    void Pause(unsigned int microseconds) override;

    // Batches rules that a device left pending (the main device's own).
    void BatchPending(SMDVDevice& device);
    // True once after the rectifier child published, the last record of a cycle.
    bool TakeCycleEnded() { return cycleEnded_.exchange(false); }
    // Waits until every work item handed over so far has run.
    void Drain() { queue_.Drain(); }
    std::vector<rule_value> ActiveAlarms();
    // The newest published image of a device, empty before its first cycle.
    std::vector<uint8_t> LatestImage(unsigned int dataId, int type);
    uint64_t BytesSent() const { return bytesSent_; }
    std::chrono::steady_clock::time_point LastSend() const { return lastSend_; }

private:
    EventLog& events_;
    history::HistoryStore& store_;
    bool skipPauses_;
    std::mutex alarmsMutex_;
    AlarmTracker alarms_;
    std::mutex imagesMutex_;
    std::map<std::pair<unsigned int, int>, std::vector<uint8_t>> latest_;
    std::atomic<bool> cycleEnded_{false};
    std::atomic<uint64_t> bytesSent_{0};
    std::chrono::steady_clock::time_point lastSend_{};
    WorkQueue queue_;  // last: its thread stops before the members it uses go
};

Json::Value RuleJson(const rule_value& rule);

}  // namespace monitor
