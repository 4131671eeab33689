#include "SMDVDevice.h"

#include <unistd.h>

int SMDVDevice::InitV(SMDVDevice* parent, unsigned int id, const Json::Value& /*setting*/) {
    parent_ = parent;
    dataId_ = id;
    if (parent != nullptr) controller_ = parent->controller_;
    return 0;
}

bool SMDVDevice::Init(std::weak_ptr<SMDController> controller, unsigned int id,
                      const Json::Value& /*setting*/) {
    controller_ = std::move(controller);
    dataId_ = id;
    return true;
}

void SMDVDevice::SendSP(int type, const unsigned char* data, unsigned int length, bool flag) {
    if (auto controller = controller_.lock()) controller->PublishRecord(*this, type, data, length, flag);
}

void SMDVDevice::CheckThresholdBool(int level, const std::string& key, const std::string& code,
                                    const std::string& name, const std::string& detail,
                                    bool active, uint16_t sequence) {
    rule_value rule;
    rule.level = static_cast<uint8_t>(level);
    rule.key = key;
    rule.code = code;
    rule.active = active ? 1 : 0;
    rule.sequence = sequence;
    rule.name = name;
    rule.detail = detail;
    rule.data_id = dataId_;
    pendingRules_.push_back(std::move(rule));
}

bool SMDVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
    auto controller = controller_.lock();
    return controller ? controller->BatchCheck(*this, rules) : false;
}

void SMDVDevice::CheckThresholdWork(std::function<void()> work) {
    if (auto controller = controller_.lock()) {
        controller->RunWork(std::move(work));
    } else {
        work();
    }
}

void SMDVDevice::SaveDeviceHistory(const unsigned char* data, unsigned int length) {
    if (auto controller = controller_.lock()) controller->SaveHistory(*this, data, length);
}

void SMDVDevice::HandOverCycle(std::vector<uint8_t> image) {
    const size_t pending = pendingRules_.size();
    std::shared_ptr<SMDVDevice> self = shared_from_this();
    SMDVDevice& device = *this;
    CheckThresholdWork([self, &device, rules = std::move(pendingRules_),
                        image = std::move(image)]() {
        if (device.DoBatchCheckThreshold(rules)) device.thresholdResult_ = 1;
        device.SaveDeviceHistory(image.data(), static_cast<unsigned int>(image.size()));
    });
    pendingRules_.clear();  // a moved-from vector is valid but unspecified
    pendingRules_.reserve(pending);
}

std::vector<rule_value> SMDVDevice::TakePendingRules() {
    std::vector<rule_value> taken;
    taken.swap(pendingRules_);
    return taken;
}
