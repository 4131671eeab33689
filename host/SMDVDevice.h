#pragma once
#include "host_api.h"
// The host's device base: identity, readiness, the link to the owning
// controller, and the threshold-rule and history services every device uses.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/json.h>

#include "SMDController.h"
#include "VDeviceInterface.h"
#include "rule_value.h"

class HOST_API SMDVDevice : public VDeviceInterface, public std::enable_shared_from_this<SMDVDevice> {
public:
    int DeviceIoControl(int, const void*, int, void*, int, int&) override { return -2; }
    ~SMDVDevice() override = default;
    // Ends the current exchange (serial devices); nothing for virtual devices.
    virtual void Reset() {}
    // Binds a child to its parent: data id, and the parent's controller.
    virtual int InitV(SMDVDevice* parent, unsigned int id, const Json::Value& setting);
    // Binds a top-level device to its controller.
    virtual bool Init(std::weak_ptr<SMDController> controller, unsigned int id,
                      const Json::Value& setting);
    virtual bool InitSetting(const Json::Value& /*setting*/) { return true; }
    virtual bool IsSupportDevice(const std::string& type) const { return type == deviceType_; }
    virtual std::shared_ptr<SMDVDevice> GetChildVDevice(unsigned int /*id*/) { return {}; }
    virtual std::vector<std::shared_ptr<SMDVDevice>> GetAllChildVDevices() { return {}; }
    // Hands a telemetry record to the host.
    virtual void SendSP(int type, const unsigned char* data, unsigned int length, bool flag);
    virtual int SendDelayData(int /*delay*/) { return -1; }
    virtual int SendDoData(int /*channel*/, char /*value*/) { return -1; }
    virtual int ReadDi(int /*channel*/) { return -1; }
    virtual float ReadAi(int /*channel*/) { return 0.0f; }
    virtual float Get_SP_Value(unsigned int index, const std::string& key) {
        return Get_Value(index, key);
    }

    // Threshold rules: appended to the pending list for this cycle.
    void CheckThresholdBool(int level, const std::string& key, const std::string& code,
                            const std::string& name, const std::string& detail, bool active,
                            uint16_t sequence);
    // Evaluates a batch with the controller's threshold service.
    bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);
    // Hands a work item to the controller's threshold service, which runs it once.
    void CheckThresholdWork(std::function<void()> work);
    // Stores a copy of a telemetry record in the device history.
    void SaveDeviceHistory(const unsigned char* data, unsigned int length);

    // End of a child's poll cycle: moves the pending rules into one work item
    // that batches them and saves `image` (its own copy) as history, then
    // restores the list's capacity so the next cycle does not regrow it.
    void HandOverCycle(std::vector<uint8_t> image);

    // Diagnostic log through the controller; a no-op without one. The host
    // framework's log takes the data id and at most two more values.
    template <class... Args>
    void InfoLog(const char* tmpl, const Args&... args) const {
        static_assert(sizeof...(Args) >= 1 && sizeof...(Args) <= 3,
                      "a log call passes one to three arguments");
        if (controller_.use_count() == 0) return;
        if (auto controller = controller_.lock()) controller->InfoLog(tmpl, args...);
    }

    // Host-side accessors (the reference host and tests).
    std::shared_ptr<SMDController> Controller() const { return controller_.lock(); }
    bool DataReady() const { return dataReady_; }
    void SetDataReady(bool ready) { dataReady_ = ready; }
    boost::posix_time::ptime UpdateTime() const { return updateTime_; }
    void SetUpdateTime(boost::posix_time::ptime t) { updateTime_ = t; }
    const std::vector<rule_value>& PendingRules() const { return pendingRules_; }
    std::vector<rule_value> TakePendingRules();
    uint16_t RuleSequence() const { return ruleSeq_; }
    bool ThresholdResult() const { return thresholdResult_ != 0; }
    SMDVDevice* Parent() const { return parent_; }

protected:
    bool dataReady_ = false;
    boost::posix_time::ptime updateTime_;  // not-a-date-time until first set
    std::weak_ptr<SMDController> controller_;
    SMDVDevice* parent_ = nullptr;
    uint16_t ruleSeq_ = 0;
    std::vector<rule_value> pendingRules_;
    uint8_t thresholdResult_ = 0;
};
