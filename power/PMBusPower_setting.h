#pragma once
// Configuration and child lookups of the main device. Included from PMBusPower.h.
#include <exception>

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::InitSetting(const Json::Value& setting) {
    if (!PMBusProtocol::InitSetting(setting)) return false;
    if (!setting.isObject()) return false;
    try {
        const auto makeAc = [] { return std::make_shared<AC>(); };
        // DC children are told the model text of the latest model reply.
        const auto makeDc = [this] { return std::make_shared<DC>(std::string(deviceModel_)); };
        if (!AddChildren(setting["acSetting"], "acSetting", acDevices_, makeAc)) return false;
        if (!AddChildren(setting["dcSetting"], "dcSetting", dcDevices_, makeDc)) return false;
        const Json::Value& rc = setting["rcSetting"];
        if (rc == Json::Value()) return false;
        rcDevice_ = std::make_shared<RC>();
        rcDevice_->InitV(this, DataId(), rc);
    } catch (const std::exception& e) {
        // A child refused its entry (a threshold without a text form): the
        // configuration fails as a result, never as an exception into the host.
        InfoLog("PMBusPower:ConfigError {} child setting refused: {}", DataId(),
                std::string(e.what()));
        rcDevice_.reset();
        return false;
    }
    return true;
}

// An element is a child's settings object; a null element stands for an
// empty one. Its "data_id" converts as the JSON library converts to an
// unsigned id: missing or null gives 0, true 1, 1.5 gives 1. What it cannot
// convert (a negative number, a text, an array or object) and an element of
// another kind are refused with a log line instead of an exception.
template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::ValidEntry(const Json::Value& entry, const char* name,
                                        unsigned int& id) {
    if (!entry.isObject() && !entry.isNull()) {
        InfoLog("PMBusPower:ConfigError {} {} element is neither an object nor null", DataId(),
                std::string(name));
        return false;
    }
    const Json::Value& dataId = entry["data_id"];
    if (!dataId.isConvertibleTo(Json::uintValue)) {
        InfoLog("PMBusPower:ConfigError {} {} data_id does not convert to an unsigned id",
                DataId(), std::string(name));
        return false;
    }
    id = dataId.asUInt();
    return true;
}

template <class AC, class DC, class RC>
template <class Child, class Make>
bool PMBusPower<AC, DC, RC>::AddChildren(const Json::Value& list, const char* name,
                                         std::vector<std::shared_ptr<Child>>& into, Make make) {
    if (!list.isArray()) return true;  // absent, or not an array: no child of this kind
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        unsigned int id = 0;
        if (!ValidEntry(list[i], name, id)) return false;
        std::shared_ptr<Child> child = make();
        child->InitV(this, id, list[i]);
        into.push_back(std::move(child));
    }
    return true;
}

template <class AC, class DC, class RC>
std::shared_ptr<SMDVDevice> PMBusPower<AC, DC, RC>::GetChildVDevice(unsigned int id) {
    for (const auto& ac : acDevices_) {
        if (ac->DataId() == id) return ac;
    }
    for (const auto& dc : dcDevices_) {
        if (dc->DataId() == id) return dc;
    }
    return {};
}

template <class AC, class DC, class RC>
std::vector<std::shared_ptr<SMDVDevice>> PMBusPower<AC, DC, RC>::GetAllChildVDevices() {
    std::vector<std::shared_ptr<SMDVDevice>> all(acDevices_.begin(), acDevices_.end());
    all.insert(all.end(), dcDevices_.begin(), dcDevices_.end());
    if (rcDevice_) all.push_back(rcDevice_);
    return all;
}
