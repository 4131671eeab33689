#pragma once
// Reply dispatch. Every handler reads only INFO bytes that lie within the
// reply's INFO length; a reply too short for the bytes a handler reads is
// refused like a reply that fails its first check. Included from PMBusPower.h.
#include <algorithm>

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::process_payload() {
    if (!rcDevice_ || reply_ == nullptr) return true;  // not configured: ignore replies
    HostPause(20000);
    const int lenid = reply_[4] | (reply_[5] << 8);
    const Reply r{reply_[2], reply_ + kReplyHeader, lenid / 2};
    switch (step_) {
        case 0: return OnAcAnalog(r);
        case 1: return OnAcStatus(r);
        case 2: return OnAcAlarms(r);
        case 3: return OnAcParameters(r);
        case 4:
            return OnRectifier(r, &RC::parse41_41,
                               "PMBusPower:ProcotolError {} parse p41_41 overflow memory boundary");
        case 5:
            return OnRectifier(r, &RC::parse41_43,
                               "PMBusPower:ProcotolError {} parse p41_43 overflow memory boundary");
        case 6:
            return OnRectifier(r, &RC::parse41_44,
                               "PMBusPower:ProcotolError {} parse p41_44 overflow memory boundary");
        case 7: return OnDcAnalog(r);
        case 8: return OnDcAlarms(r);
        case 9: return OnDcParameters(r);
        case power::kModelStep: return OnModel(r);
        default: return true;
    }
}

// Hands each child its block in turn, from INFO offset `start`; returns the
// offset reached, or -1 when a child refused its block.
template <class AC, class DC, class RC>
template <class Child, class Parse>
int PMBusPower<AC, DC, RC>::Dispatch(const std::vector<std::shared_ptr<Child>>& children,
                                     Parse parse, const Reply& r, int start) const {
    int pos = start;
    for (const auto& child : children) {
        const int left = std::max(r.length - pos, 0);
        const int used = ((*child).*parse)(r.info + std::min(pos, r.length), left);
        if (used < 0) return -1;
        pos += used;
    }
    return pos;
}

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnAcAnalog(const Reply& r) {
    if (r.cid1 != 0x40 || r.length < 2) {
        Reset();
        return false;
    }
    acDataFlag_ = r.info[0];
    const unsigned int configured = static_cast<unsigned int>(acDevices_.size());
    if (r.info[1] != configured) {
        InfoLog("PMBusPower:ProcotolError {} read ac_number is {}, configured ac_number is {}",
                DataId(), static_cast<unsigned int>(r.info[1]), configured);
        Reset();
        return false;
    }
    const int reached = Dispatch(acDevices_, &AC::parse40_41, r, 2);
    if (reached < 0) return true;
    if (reached != r.length) {
        InfoLog("PMBusPower:ProcotolError {} parse 40_41 overflow memory boundary", DataId());
        return true;
    }
    return SendNext(0);
}

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnAcStatus(const Reply& r) {
    if (r.cid1 != 0x40) return true;
    if (r.length - 2 > 0) {
        const int reached = Dispatch(acDevices_, &AC::parse40_43, r, 2);
        if (reached < 0) return true;
        if (reached != r.length) {
            InfoLog("PMBusPower:ProcotolError {} parse 40_43 overflow memory boundary", DataId());
            return true;
        }
    }
    return SendNext(1);
}

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnAcAlarms(const Reply& r) {
    if (r.cid1 != 0x40 || r.length < 2) return true;
    const int reached = Dispatch(acDevices_, &AC::parse40_44, r, 2);
    if (reached < 0 || reached != r.length) return true;
    return SendNext(2);
}

// The three rectifier replies go to the rectifier child whole and must be
// consumed exactly.
template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnRectifier(const Reply& r, int (RC::*parse)(const uint8_t*, int),
                                         const char* overflow) {
    if (r.cid1 != 0x41) return true;
    // An analog reply without INFO leaves the flag as it was; the child is
    // still asked, refuses, and both overflow lines are written.
    if (step_ == 4 && r.length >= 1) rcDataFlag_ = r.info[0];
    if (((*rcDevice_).*parse)(r.info, r.length) != r.length) {
        InfoLog(overflow, DataId());
        return true;
    }
    return SendNext(step_);
}

// The unit count of a DC reply (INFO[1]) against the DC children; a mismatch
// is logged and the reply refused.
template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::DcCountMatches(const Reply& r) {
    const unsigned int configured = static_cast<unsigned int>(dcDevices_.size());
    const unsigned int announced = r.info[1];
    if (announced == configured) return true;
    InfoLog("PMBusPower:ProcotolError {} read dc_number is {}, configured dc_number is {}",
            DataId(), announced, configured);
    return false;
}

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnDcAnalog(const Reply& r) {
    if (r.cid1 != 0x42 || r.length < 2) return true;
    const uint8_t dcFlag = r.info[0];
    if (!DcCountMatches(r)) return true;
    const unsigned int announced = r.info[1];
    // With more than three screens the count byte belongs to the first block.
    const int reached = Dispatch(dcDevices_, &DC::parse42_41, r, announced > 3 ? 1 : 2);
    if (reached < 0) return true;
    if (reached > r.length) {
        InfoLog("PMBusPower:ProcotolError {} parse 42_41 overflow memory boundary", DataId());
    }
    return SendNext(7, dcFlag);
}

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnDcAlarms(const Reply& r) {
    if (r.cid1 != 0x42 || r.length < 2 || !DcCountMatches(r)) return true;
    const int reached = Dispatch(dcDevices_, &DC::parse42_44, r, 2);
    if (reached < 0) return true;
    if (reached > r.length) {
        InfoLog("PMBusPower:ProcotolError {} parse 42_44 overflow memory boundary", DataId());
    }
    return SendNext(8);
}

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnAcParameters(const Reply& r) {
    if (r.cid1 != 0x40) return true;
    const int used = rcDevice_->parse40_46(r.info, r.length);
    if (used < 0) return true;
    if (used > r.length) {
        InfoLog("PMBusPower:ProcotolError {} parse 40_46 overflow memory boundary", DataId());
    }
    return SendNext(3);
}

template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnDcParameters(const Reply& r) {
    if (r.cid1 != 0x42) return true;
    // A result beyond the INFO length is an overrun the cycle survives.
    if (rcDevice_->parse42_46(r.info, r.length) < 0) return true;
    return SendNext(9);
}

// The model reply: a 20-byte text (a shorter reply gives the bytes it has).
template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::OnModel(const Reply& r) {
    if (r.cid1 != 0x40) return true;
    constexpr int kModelLength = 20;
    deviceModel_.assign(reinterpret_cast<const char*>(r.info), std::min(r.length, kModelLength));
    if (!ModelSupported()) {
        CheckThresholdBool(3, "device_model", "70319", "设备配置检测",
                           "本驱动类型:" + DeviceType() + " 检测型号:" + deviceModel_, true, 0);
    }
    checkModel_ = false;
    return SendNext(power::kModelStep);
}

// The field is compared with trailing zero bytes and spaces cut off.
template <class AC, class DC, class RC>
bool PMBusPower<AC, DC, RC>::ModelSupported() const {
    const size_t end = deviceModel_.find_last_not_of(std::string("\0 ", 2));
    const std::string model = end == std::string::npos ? "" : deviceModel_.substr(0, end + 1);
    return std::find(supportModels_.begin(), supportModels_.end(), model) != supportModels_.end();
}
