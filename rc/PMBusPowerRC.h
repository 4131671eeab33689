#pragma once
// The rectifier child: the one device for the power system's rectifier
// modules. Its parsers decode the module analog, status and alarm replies and
// the AC and DC parameter replies into the group record and one record per
// module.
//
// Every parser takes a pointer to the reply data and its length, and returns
// the number of bytes consumed or -1 to refuse the reply. No parser reads
// past that length: a reply that needs more is refused with its overflow line
// (the position the read would have reached, the length). A count other than
// the expected one is logged and its group skipped, never a refusal.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "CycleImage.h"
#include "Freshness.h"
#include "PayloadReader.h"
#include "SMDSPDevice.h"
#include "UnitCount.h"
#include "Value4.h"
#include "rc_alarm_table.h"

template <class TeleRC, class TeleRCChannel, int RT_RC>
class PMBusPowerRC : public SMDSPDevice {
public:
    PMBusPowerRC() : tele{}, send_length(0) {}

    // Answers no key: the rectifier data reach the host only as the image.
    float Get_Value(unsigned int index, const std::string& key) const override;
    // Applies a rectifier data image: the group record and exactly as many
    // module records as it announces. A refused image changes nothing.
    bool LoadFromCache(const unsigned char* data, int length) override;
    void RoundDone() override;
    ~PMBusPowerRC() override = default;
    int InitV(SMDVDevice* parent, unsigned int id, const Json::Value& config) override;

    virtual int parse41_41(const uint8_t* data, int length);
    virtual int parse41_43(const uint8_t* data, int length);
    virtual int parse41_44(const uint8_t* data, int length);
    virtual int parse40_46(const uint8_t* data, int length);
    virtual int parse42_46(const uint8_t* data, int length);
    // The model's own module alarms, passed after the module fault checks.
    virtual void DoImpCheckAlert() {}

    TeleRC tele;
    std::vector<TeleRCChannel> channels;  // always tele.channel_count entries
    uint32_t send_length;
    std::unique_ptr<uint8_t[]> send_buffer;

protected:
    // Passes every row of `rules` for the module at `index` (0-based).
    template <size_t N>
    void PassModuleRules(const TeleRCChannel& module, size_t index,
                         const std::array<rc::ModuleRule, N>& rules);

private:
    using Reader = child::PayloadReader;
    static constexpr int kImageHeader = static_cast<int>(sizeof(TeleRC));
    static constexpr int kImageModule = static_cast<int>(sizeof(TeleRCChannel));

    int Overflow(const char* tmpl, const Reader& r, int length) const {
        InfoLog(tmpl, DataId(), r.position(), length);
        return -1;
    }
    bool AcceptModuleCount(uint8_t m);
    bool ReadModuleHead(Reader& r, TeleRCChannel& module);
    bool ReadModuleValues(Reader& r, TeleRCChannel& module);
    bool ReadModuleStatus(Reader& r, TeleRCChannel& module);
    bool ReadModuleAlarms(Reader& r, TeleRCChannel& module);

    child::UnitCount moduleCount_;
};

// Module analog values: DATAFLAG, the group value, M, then per module its
// value, p and p analog values. The group value is taken before the module
// count is judged (child/UnitCount.h); a reply with a count not adopted is
// refused without a log line.
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse41_41(const uint8_t* data, int length) {
    static constexpr const char* kOverflow =
        "PMBusPowerAC:ProcotolError {} read 41_41 read overflow {} - {}";
    Reader r(data, length);
    uint8_t head[5];  // DATAFLAG (the main device's), then the group value
    if (!r.copy(head, sizeof head)) return Overflow(kOverflow, r, length);
    std::memcpy(&tele.group_value, head + 1, 4);
    uint8_t m = 0;
    if (!r.u8(m)) return Overflow(kOverflow, r, length);
    if (!AcceptModuleCount(m)) return -1;
    for (auto& module : channels) {
        if (!ReadModuleHead(r, module)) return Overflow(kOverflow, r, length);
        if (module.analog_p != TeleRCChannel::P41_41_SIZE()) continue;
        if (!ReadModuleValues(r, module)) {
            return Overflow("PMBusPowerAC:ProcotolError {} read 41_41 in channel overflow {} - {}",
                            r, length);
        }
    }
    return r.position();
}

// Lays the module records out anew, all zero, when the count is first known
// or replaced; a replacement says so in the log.
template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::AcceptModuleCount(uint8_t m) {
    using Verdict = child::UnitCount::Verdict;
    const uint8_t known = tele.channel_count;
    switch (moduleCount_.Judge(m, known, !channels.empty())) {
        case Verdict::Keep: return true;
        case Verdict::Refuse: return false;
        case Verdict::First: break;
        case Verdict::Cached:
            InfoLog("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_41 "
                    "channel_count is {}, cached {} replaced",
                    DataId(), m, known);
            break;
        case Verdict::Repeated:
            // The number of blocks is part of the text, as on the AC side.
            InfoLog("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_41 "
                    "channel_count is {} in 3 blocks, {} replaced",
                    DataId(), m, known);
            break;
    }
    tele.channel_count = m;
    channels.assign(m, TeleRCChannel{});
    return true;
}

// The module value and the analog count; a count other than 13 is logged
// and its values skipped, leaving the earlier ones in place.
template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::ReadModuleHead(Reader& r, TeleRCChannel& module) {
    uint8_t p = 0;
    if (!r.copy(&module.module_value, 4) || !r.u8(p)) return false;
    module.analog_p = p;
    constexpr uint8_t expected = TeleRCChannel::P41_41_SIZE();
    if (p == expected) return true;
    InfoLog("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_41 p is {} not {}",
            DataId(), p, expected);
    return r.skip(4 * p);
}

// The 13 analog values, whose whole length is checked first. Here any four
// equal bytes, zero included, mark a value not provided, stored as zero.
template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::ReadModuleValues(Reader& r,
                                                                  TeleRCChannel& module) {
    constexpr int count = TeleRCChannel::P41_41_SIZE();
    const uint8_t* values = r.here();
    if (!r.skip(4 * count)) return false;
    Reader block(values, 4 * count);
    return child::ReadValues(block, &module.analog_user, count, child::Marker::EqualAny,
                             child::kFillZero);
}

// Module status: DATAFLAG, m, then per module three status bytes, p and p
// user status bytes. More modules than known refuse the reply silently;
// fewer update only the first m.
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse41_43(const uint8_t* data, int length) {
    static constexpr const char* kOverflow =
        "PMBusPowerAC:ProcotolError {} read 41_43 read overflow {} - {}";
    Reader r(data, length);
    uint8_t head[2];  // DATAFLAG, m
    if (!r.copy(head, sizeof head)) return Overflow(kOverflow, r, length);
    const uint8_t m = head[1];
    if (m > tele.channel_count) return -1;
    for (size_t k = 0; k < m; ++k) {
        if (!ReadModuleStatus(r, channels[k])) return Overflow(kOverflow, r, length);
    }
    return r.position();
}

template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::ReadModuleStatus(Reader& r,
                                                                  TeleRCChannel& module) {
    uint8_t p = 0;
    if (!r.copy(&module.status, 3) || !r.u8(p)) return false;
    module.status_p = p;
    constexpr uint8_t expected = TeleRCChannel::P41_43_SIZE();
    if (p == expected) return r.copy(&module.status_user, expected);
    InfoLog("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_43 p is {}, not {}",
            DataId(), p, expected);
    return r.skip(p);
}

// Module alarms: DATAFLAG, m, then per module the fault byte, p and p alarm
// bytes. More modules than known refuse the reply with 0 and a log line.
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse41_44(const uint8_t* data, int length) {
    static constexpr const char* kOverflow =
        "PMBusPowerAC:ProcotolError {} read 41_44 read overflow {} - {}";
    Reader r(data, length);
    uint8_t head[2];  // DATAFLAG, m
    if (!r.copy(head, sizeof head)) return Overflow(kOverflow, r, length);
    const uint8_t m = head[1];
    const uint8_t known = tele.channel_count;
    if (m > known) {
        InfoLog(
            "PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} parse p41_44 "
            "channel_count not equal {} != {} ",
            DataId(), static_cast<int>(m), known);
        return 0;
    }
    for (size_t k = 0; k < m; ++k) {
        if (!ReadModuleAlarms(r, channels[k])) return Overflow(kOverflow, r, length);
    }
    return r.position();
}

template <class TeleRC, class TeleRCChannel, int RT_RC>
bool PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::ReadModuleAlarms(Reader& r,
                                                                  TeleRCChannel& module) {
    uint8_t fault = 0;
    uint8_t p = 0;
    if (!r.u8(fault) || !r.u8(p)) return false;
    module.fault = fault;
    module.alarm_p = p;
    constexpr uint8_t expected = TeleRCChannel::P41_44_SIZE();
    if (p == expected) return r.copy(&module.alarm_user, expected);
    InfoLog("PMBusPowerRC<TeleRC,TeleRCChannel,RT_RC>:ProcotolError {} read 41_44 p is {}, not {}",
            DataId(), p, expected);
    return r.skip(p);
}

// AC parameters: five values, p and p further values that are not kept.
// With p other than 0 the result is the announced length, unchecked: the
// main device compares it with the reply length.
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse40_46(const uint8_t* data, int length) {
    Reader r(data, length);
    uint8_t p = 0;
    if (!r.copy(&tele.ac_param, sizeof tele.ac_param) || !r.u8(p)) {
        return Overflow("PMBusPowerAC:ProcotolError {} read 40_46 read overflow {} - {}", r,
                        length);
    }
    if (p != 0) return r.position() + 4 * p;
    return r.position();
}

// DC parameters: two values, p (67 expected) and p further values of which
// the record keeps the first 208 bytes. The result counts only the bytes
// kept, so a complete reply gives 217; a wrong p gives the announced length.
template <class TeleRC, class TeleRCChannel, int RT_RC>
int PMBusPowerRC<TeleRC, TeleRCChannel, RT_RC>::parse42_46(const uint8_t* data, int length) {
    Reader r(data, length);
    uint8_t p = 0;
    if (!r.copy(&tele.dc_param, sizeof tele.dc_param) || !r.u8(p)) {
        return Overflow("PMBusPowerAC:ProcotolError {} read 42_46 read overflow {} - {}", r,
                        length);
    }
    tele.dc_param_p = p;
    constexpr uint8_t expected = TeleRC::P42_46_NUMBER();
    if (p != expected) {
        InfoLog("TRM27K:ProcotolError parse42_46 {} p:{} != {}", DataId(), p, expected);
        return r.position() + 4 * p;
    }
    const int kept = std::min<int>(TeleRC::P42_46_SIZE(), r.remaining());
    r.copy(&tele.dc_param_user, kept);
    return r.position();
}

#include "PMBusPowerRC_cycle.h"
