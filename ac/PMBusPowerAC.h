#pragma once
// The AC distribution child: one device per AC distribution screen. Its
// parsers decode this screen's block of the three AC replies (analog values,
// status, alarms) into the screen record and one record per input channel.
//
// Every parser takes a pointer to the screen's block and the number of reply
// bytes left from there, and returns the block's length or -1 to refuse it.
// No parser reads past that count: a block that needs more is refused with
// its overflow line (bytes needed, bytes available).
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "AppSetting.h"
#include "CycleImage.h"
#include "Freshness.h"
#include "PayloadReader.h"
#include "SMDSPDevice.h"
#include "UnitCount.h"
#include "Value4.h"
#include "ac_alarm_table.h"
#include "ac_channel_key.h"

template <class TeleAC, class TeleACChannel, int RT_AC>
class PMBusPowerAC : public SMDSPDevice {
public:
    PMBusPowerAC() : tele{}, diff_v(20.0f), diff_i(20.0f), send_length(0) {}

    using SMDSPDevice::LoadFromCache;  // keep the text form visible beside the override
    float Get_Value(unsigned int index, const std::string& key) const override;
    // Applies an AC data image: the screen record and exactly as many channel
    // records as it announces. A refused image changes nothing.
    bool LoadFromCache(const uint8_t* data, int length) override;
    void RoundDone() override;
    int InitV(SMDVDevice* parent, unsigned int id, const Json::Value& entry) override;

    virtual int parse40_41(const uint8_t* data, int size);
    virtual int parse40_43(const uint8_t* data, int size);
    virtual int parse40_44(const uint8_t* data, int size);
    // Model-specific alarms, passed after the fixed AC table.
    virtual void DoImpCheckAlert() = 0;

    TeleAC tele;
    std::vector<TeleACChannel> channels;
    float diff_v;
    float diff_i;
    uint32_t send_length;
    std::unique_ptr<uint8_t[]> send_buffer;

private:
    using Reader = child::PayloadReader;
    static constexpr int kImageHeader = static_cast<int>(sizeof(TeleAC));

    int Overflow(const char* tmpl, const Reader& r, int size) const {
        InfoLog(tmpl, DataId(), r.position(), size);
        return -1;
    }
    bool AcceptChannelCount(uint8_t n);
    bool ReadChannelValues(Reader& r, TeleACChannel& ch);
    bool ReadChannelAlarms(Reader& r, TeleACChannel& ch);
    void PassChannelRules(const TeleACChannel& ch, size_t position);
    void PassScreenRules();

    child::UnitCount channelCount_;
};

// Analog values: N, then per channel a b c f, p and p user values, then ia ib ic.
// The channel count is judged before anything is read (child/UnitCount.h); a
// block with a count not adopted is refused without a log line.
template <class TeleAC, class TeleACChannel, int RT_AC>
int PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::parse40_41(const uint8_t* data, int size) {
    static constexpr const char* kOverflow =
        "PMBusPowerAC:ProcotolError {} read 40_41 read overflow {} - {}";
    Reader r(data, size);
    uint8_t n = 0;
    if (!r.u8(n)) return Overflow(kOverflow, r, size);
    if (!AcceptChannelCount(n)) return -1;
    for (auto& ch : channels) {
        if (!ReadChannelValues(r, ch)) return Overflow(kOverflow, r, size);
    }
    using child::Marker;
    if (!child::ReadValue(r, &tele.ia, Marker::EqualNonZero, child::kFillMinusTenth) ||
        !child::ReadValue(r, &tele.ib, Marker::EqualNonZero, child::kFillMinusTenth) ||
        !child::ReadValue(r, &tele.ic, Marker::EqualNonZero, child::kFillMinusTenth)) {
        return Overflow(kOverflow, r, size);
    }
    return r.position();
}

// Lays the channel records out anew, all zero, when the count is first known
// or replaced; a replacement says so in the log.
template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::AcceptChannelCount(uint8_t n) {
    using Verdict = child::UnitCount::Verdict;
    const uint8_t known = tele.channel_count;
    switch (channelCount_.Judge(n, known, !channels.empty())) {
        case Verdict::Keep: return true;
        case Verdict::Refuse: return false;
        case Verdict::First: break;
        case Verdict::Cached:
            InfoLog("PMBusPowerAC:ProcotolError {} read 40_41 channel_count is {}, cached {} replaced",
                    DataId(), n, known);
            break;
        case Verdict::Repeated:
            // Log calls take at most three arguments, so the number of blocks
            // is part of the text (child/UnitCount.h keeps it in step).
            InfoLog("PMBusPowerAC:ProcotolError {} read 40_41 channel_count is {} in 3 blocks, {} "
                    "replaced",
                    DataId(), n, known);
            break;
    }
    tele.channel_count = n;
    channels.assign(n, TeleACChannel{});
    return true;
}

template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::ReadChannelValues(Reader& r, TeleACChannel& ch) {
    using child::Marker;
    if (!child::ReadValue(r, &ch.a, Marker::EqualNonZero, child::kFillZero) ||
        !child::ReadValue(r, &ch.b, Marker::EqualNonZero, child::kFillZero) ||
        !child::ReadValue(r, &ch.c, Marker::EqualNonZero, child::kFillZero) ||
        !child::ReadValue(r, &ch.f, Marker::EqualNonZero, child::kFillZero)) {
        return false;
    }
    const float a = ch.a, b = ch.b, c = ch.c, f = ch.f;
    std::cout << "a:" << a << " b:" << b << " c:" << c << " f:" << f << std::endl;
    uint8_t p = 0;
    if (!r.u8(p)) return false;
    ch.analog_p = p;
    constexpr uint8_t expected = TeleACChannel::P40_41_SIZE();
    if (p != expected) {
        InfoLog("PMBusPowerAC:ProcotolError {} read 40_41 p is {} not {}", DataId(), p, expected);
        return r.skip(4 * p);
    }
    return child::ReadValues(r, &ch.analog_user, expected, Marker::EqualNonZero,
                             child::kFillMinusTenth);
}

// Status: m breaker states (none fit this model), then p status bytes.
template <class TeleAC, class TeleACChannel, int RT_AC>
int PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::parse40_43(const uint8_t* data, int size) {
    static constexpr const char* kOverflow =
        "PMBusPowerAC:ProcotolError {} read 40_43 read overflow {} - {}";
    Reader r(data, size);
    uint8_t m = 0;
    if (!r.u8(m)) return Overflow(kOverflow, r, size);
    tele.airlock_m = m;
    constexpr uint8_t airlockMax = TeleAC::AIRLOCK_MAX();
    if (m > airlockMax) {
        InfoLog("ProcotolError %u read 40_43 m is %d max %d", DataId(), m, airlockMax);
        return -1;
    }
    if (!r.copy(&tele.airlock, m)) return Overflow(kOverflow, r, size);
    uint8_t p = 0;
    if (!r.u8(p)) return Overflow(kOverflow, r, size);
    tele.status_p = p;
    constexpr uint8_t expected = TeleAC::P40_43_SIZE();
    if (p != expected) {
        InfoLog("PMBusPowerAC:ProcotolError P{} read 40_43 p is {} not {}", DataId(), p, expected);
        if (!r.skip(p)) return Overflow(kOverflow, r, size);
    } else if (!r.copy(&tele.status_user, expected)) {
        return Overflow(kOverflow, r, size);
    }
    return r.position();
}

// Alarms: a skipped count byte, per stored channel four states, m extra items
// and p user alarm bytes, then the three current alarm states.
template <class TeleAC, class TeleACChannel, int RT_AC>
int PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::parse40_44(const uint8_t* data, int size) {
    static constexpr const char* kOverflow =
        "PMBusPowerAC:ProcotolError {} read 40_44 read overflow {} - {}";
    Reader r(data, size);
    if (!r.skip(1)) return Overflow(kOverflow, r, size);
    for (auto& ch : channels) {
        if (!ReadChannelAlarms(r, ch)) return Overflow(kOverflow, r, size);
    }
    if (!r.u8(tele.ia_alert) || !r.u8(tele.ib_alert) || !r.u8(tele.ic_alert)) {
        return Overflow(kOverflow, r, size);
    }
    return r.position();
}

template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::ReadChannelAlarms(Reader& r, TeleACChannel& ch) {
    uint8_t m = 0;
    if (!r.u8(ch.a_alert) || !r.u8(ch.b_alert) || !r.u8(ch.c_alert) || !r.u8(ch.f_alert) ||
        !r.u8(m)) {
        return false;
    }
    if (m != 0) {
        InfoLog("PMBusPowerAC:ProcotolError {} read 40_44 m is {}", DataId(), static_cast<int>(m));
        if (!r.skip(m)) return false;
    }
    uint8_t p = 0;
    if (!r.u8(p)) return false;
    ch.alarm_p = p;
    constexpr uint8_t expected = TeleACChannel::p40_44_SIZE();
    if (p != expected) {
        InfoLog("PMBusPowerAC:ProcotolError {} read 40_44 p is {} not {}", DataId(), p, expected);
        return r.skip(p);
    }
    return r.copy(&ch.alarm_user, expected);
}

template <class TeleAC, class TeleACChannel, int RT_AC>
bool PMBusPowerAC<TeleAC, TeleACChannel, RT_AC>::LoadFromCache(const uint8_t* data, int length) {
    if (length <= kImageHeader) return false;
    const bool applied = child::ApplyImage(data, length, tele, channels,
                                           [](const TeleAC& t) { return t.channel_count; });
    if (!applied) return false;
    channelCount_.MarkProvisional();  // the first live analog block has the last word
    dataReady_ = true;
    updateTime_ = host_local_now();
    return true;
}

#include "PMBusPowerAC_cycle.h"
