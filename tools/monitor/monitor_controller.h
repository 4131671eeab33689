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
#include "history_recorder.h"
#include "history_store.h"
#include "site_model.h"
#include "work_queue.h"

namespace monitor {

class MonitorController : public SMDController {
public:
    // `allRules`: a "rules" event for every batch; false: only for batches
    // in which some rule changed state.
    MonitorController(EventLog& events, HistoryRecorder& history, site::SiteModel& model,
                      bool skipPauses, bool allRules);

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
    // The cycle is complete: waits for its work items, then hands its
    // history to the store (the one transaction of the poll thread).
    void EndCycle();
    // Alarms active at the last stop: not raised again, cleared when the
    // first cycle finds them inactive.
    void RestoreAlarms(const std::vector<history::ActiveAlarm>& active);
    // The active alarms as history rows.
    std::vector<history::ActiveAlarm> ActiveAlarmRows();
    // True once after the rectifier child published, the last record of a cycle.
    bool TakeCycleEnded() { return cycleEnded_.exchange(false); }
    // Waits until every work item handed over so far has run.
    void Drain() { queue_.Drain(); }
    std::vector<rule_value> ActiveAlarms();
    // The newest published image of a device, empty before its first cycle.
    std::vector<uint8_t> LatestImage(unsigned int dataId, int type);
    uint64_t BytesSent() const { return bytesSent_; }
    // The site model this controller feeds with records, rules and counts.
    site::SiteModel& Model() { return model_; }
    // Frame errors: all of them, and those since the last command. Only the
    // first of an exchange is written as an event; a hostile line would
    // otherwise fill the file.
    uint64_t FrameErrors() const { return frameErrors_; }
    int FrameErrorsThisExchange() const { return frameErrorsThisExchange_; }
    void CountFrameError() { ++frameErrors_; ++frameErrorsThisExchange_; }
    // The plug-in's last diagnostic line (what a stalled poll is told with).
    void NoteLogLine(const std::string& text);
    std::string LastLogLine();

private:
    void StorageWaited(std::chrono::steady_clock::duration waited);

    EventLog& events_;
    HistoryRecorder& history_;
    site::SiteModel& model_;
    bool skipPauses_;
    bool allRules_;
    std::mutex alarmsMutex_;
    AlarmTracker alarms_;
    // Device type of each rule by (data id, key): the main device and the
    // rectifier child share a data id.
    std::map<std::pair<unsigned int, std::string>, std::string> deviceTypes_;
    std::mutex imagesMutex_;
    std::map<std::pair<unsigned int, int>, std::vector<uint8_t>> latest_;
    std::atomic<bool> cycleEnded_{false};
    std::atomic<uint64_t> bytesSent_{0};
    std::atomic<uint64_t> frameErrors_{0};
    int frameErrorsThisExchange_ = 0;
    std::mutex logMutex_;
    std::string lastLogLine_;
    // Waits for the history, on the poll thread only.
    uint64_t storageWaits_ = 0;
    std::chrono::steady_clock::duration storageWaited_{};
    std::chrono::steady_clock::time_point storageToldAt_{};
    WorkQueue queue_;  // last: its thread stops before the members it uses go
};

Json::Value RuleJson(const rule_value& rule);

}  // namespace monitor
