#pragma once
// The reference host's controller: the host services the plug-in calls
// (records, rule batches, commands, frame errors, log lines), each handed to
// the site model and nothing else, the threshold service on its worker
// thread, and the line.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "SMDController.h"
#include "site_model.h"
#include "work_queue.h"

namespace monitor {

class MonitorController : public SMDController {
public:
    MonitorController(site::SiteModel& model, bool skipPauses);

    void PublishRecord(SMDVDevice& device, int type, const uint8_t* data, unsigned int length,
                       bool flag) override;
    // The history listener keeps the images the model holds for each cycle,
    // the same bytes the children save here, so nothing is kept twice.
    void SaveHistory(SMDVDevice&, const uint8_t*, unsigned int) override {}
    void RunWork(std::function<void()> work) override { queue_.Post(std::move(work)); }
    bool BatchCheck(SMDVDevice& device, const std::vector<rule_value>& rules) override;
    bool SendCommand(PMBusProtocol& device, uint8_t cid1, uint8_t cid2, const uint8_t* info,
                     int infoLength) override;
    void OnFrameError(PMBusProtocol& device, const char* reason, const char* raw,
                      size_t length) override;
    void OnReset(SMDSPDevice& device) override;
    void Pause(unsigned int microseconds) override;

    // Batches rules that a device left pending (the main device's own).
    void BatchPending(SMDVDevice& device);
    // True once after the main device ended a poll cycle: a reset of the
    // exchange after its children published their records.
    bool TakeCycleEnded() { return cycleEnded_.exchange(false); }
    // Waits until every work item handed over so far has run.
    void Drain() { queue_.Drain(); }
    // The site model this controller feeds.
    site::SiteModel& Model() { return model_; }
    // The power system whose devices this controller serves (its records
    // are told with it; its commands too when `inEvents`, on a site of several).
    void SetSystem(std::string name, bool inEvents = false) {
        system_ = std::move(name);
        systemInEvents_ = inEvents;
    }
    const std::string& System() const { return system_; }
    // Frame errors since the last command: only the first of an exchange is
    // reported, a hostile line would otherwise fill the event file.
    int FrameErrorsThisExchange() const { return frameErrorsThisExchange_; }
    // Reports a frame error of the exchange, unless one was reported already.
    void ReportFrameError(Json::Value fields);
    // The plug-in's last diagnostic line (what a stalled poll is told with).
    void NoteLogLine(const std::string& text);
    std::string LastLogLine();

private:
    site::SiteModel& model_;
    std::string system_;
    bool systemInEvents_ = false;
    bool skipPauses_;
    std::atomic<bool> cycleEnded_{false};
    int recordsSinceReset_ = 0;  // poll thread only
    int frameErrorsThisExchange_ = 0;
    std::mutex logMutex_;
    std::string lastLogLine_;
    WorkQueue queue_;  // last: its thread stops before the members it uses go
};

}  // namespace monitor
