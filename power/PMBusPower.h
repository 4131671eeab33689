#pragma once
// The main device: the one serial device of a power system. It owns the link,
// creates and owns the child devices (AC distribution screens, DC
// distribution screens, the rectifier group), runs the poll sequence and
// hands every reply to the children it concerns.
#include <memory>
#include <string>
#include <vector>

#include "PMBusProtocol.h"
#include "poll_steps.h"

template <class AC, class DC, class RC>
class PMBusPower : public PMBusProtocol {
public:
    explicit PMBusPower(std::vector<std::string> models)
        : acDataFlag_(0), rcDataFlag_(0), checkModel_(true), supportModels_(std::move(models)) {}
    ~PMBusPower() override = default;

    // The main device keeps no cached data of its own.
    bool LoadFromCache(const unsigned char* /*data*/, int /*length*/) override { return true; }
    // Configures the protocol base, then creates one child per "acSetting" and
    // "dcSetting" element and the rectifier child from "rcSetting" (required).
    bool InitSetting(const Json::Value& setting) override;
    std::shared_ptr<SMDVDevice> GetChildVDevice(unsigned int id) override;
    std::vector<std::shared_ptr<SMDVDevice>> GetAllChildVDevices() override;
    // Starts a cycle, or repeats the command of the current step, at most
    // every 2 seconds after the last update; the model query goes first.
    bool RefreshStatus() override;
    // Checks a reply against the current step, hands it to the children's
    // parsers and sends the next command, or ends the cycle (false).
    bool process_payload() override;

    static constexpr uint8_t commandGroup_ = 0xFF;

    const std::vector<std::shared_ptr<AC>>& AcDevices() const { return acDevices_; }
    const std::vector<std::shared_ptr<DC>>& DcDevices() const { return dcDevices_; }
    const std::shared_ptr<RC>& RcDevice() const { return rcDevice_; }
    const std::string& DeviceModel() const { return deviceModel_; }
    bool CheckModelPending() const { return checkModel_; }
    uint8_t AcDataFlag() const { return acDataFlag_; }
    uint8_t RcDataFlag() const { return rcDataFlag_; }

protected:
    std::vector<std::shared_ptr<AC>> acDevices_;
    std::vector<std::shared_ptr<DC>> dcDevices_;
    std::shared_ptr<RC> rcDevice_;
    uint8_t acDataFlag_;
    uint8_t rcDataFlag_;
    bool checkModel_;
    std::string deviceModel_;
    std::vector<std::string> supportModels_;

private:
    struct Reply {
        uint8_t cid1;
        const uint8_t* info;
        int length;  // INFO bytes
    };
    template <class Child, class Make>
    bool AddChildren(const Json::Value& list, const char* name,
                     std::vector<std::shared_ptr<Child>>& into, Make make);
    bool ValidEntry(const Json::Value& entry, const char* name, unsigned int& id);
    void SendStep(int step);
    bool SendNext(int from, uint8_t dcFlag = 0);
    bool EndCycle();
    template <class Child, class Parse>
    int Dispatch(const std::vector<std::shared_ptr<Child>>& children, Parse parse,
                 const Reply& r, int start) const;
    bool OnAcAnalog(const Reply& r);
    bool OnAcStatus(const Reply& r);
    bool OnAcAlarms(const Reply& r);
    bool OnRectifier(const Reply& r, int (RC::*parse)(const uint8_t*, int), const char* overflow);
    bool DcCountMatches(const Reply& r);
    bool OnDcAnalog(const Reply& r);
    bool OnDcAlarms(const Reply& r);
    bool OnAcParameters(const Reply& r);
    bool OnDcParameters(const Reply& r);
    bool OnModel(const Reply& r);
    bool ModelSupported() const;
};

#include "PMBusPower_setting.h"
#include "PMBusPower_poll.h"
#include "PMBusPower_dispatch.h"
