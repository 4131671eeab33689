#pragma once
// The DC distribution child: one device per DC distribution screen. Its two
// parsers decode this screen's block of the DC analog reply (0x42 0x41) and of
// the DC alarm reply (0x42 0x44) into one 450-byte record, which the end of
// each poll cycle publishes, checks for alarms and saves as history.
//
// Both parsers take a pointer to the screen's block and `len`, the number of
// reply bytes left from there, and return the block's length, or -1 when the
// block runs past `len`. They read field by field and never past `len`: at the
// first field, copy or step that would, the parser logs its overflow line (the
// length reached, counting what did not fit, and `len`) and refuses; what it
// stored before stays. A count above its group's capacity is stepped over, so
// the next screen's block is still found; only user-defined values that are
// not all in the reply end the block at `len` instead.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "AppSetting.h"
#include "CycleImage.h"
#include "Freshness.h"
#include "PayloadReader.h"
#include "SMDSPDevice.h"
#include "Value4.h"
#include "dc_alarm_table.h"

template <class TeleDC, int RT_DC>
class PMBusPowerDC : public SMDSPDevice {
public:
    // The record starts all zero; InitV writes its id.
    PMBusPowerDC() : tele{}, last_v(0.0f), last_i(0.0f), diff_v(0.1f), diff_i(20.0f) {}
    // `text` is the main device's model text; it is kept, nothing reads it.
    explicit PMBusPowerDC(const std::string& text)
        : tele{}, last_v(0.0f), last_i(0.0f), diff_v(0.1f), diff_i(20.0f), model_text(text) {}

    // "v" and "i" while the record is fresh (child/Freshness.h); any other key
    // is answered with "数据未就绪".
    float Get_Value(unsigned int index, const std::string& key) const override;
    using SMDSPDevice::LoadFromCache;  // keeps the text form visible
    // Applies a record image of exactly sizeof(TeleDC) bytes; refuses any other.
    bool LoadFromCache(const unsigned char* data, int len) override;
    void RoundDone() override;
    ~PMBusPowerDC() override = default;
    int InitV(SMDVDevice* parent, unsigned int id, const Json::Value& entry) override;

    // Analog values: v, i, m values, n values, p user-defined values.
    virtual int parse42_41(const uint8_t* data, int len);
    // Alarms: v_alarm, m fuse states, p user-defined alarm bytes.
    virtual int parse42_44(const uint8_t* data, int len);
    // Model-specific alarms, passed after the voltage and fuse alarms.
    virtual void DoImpCheckAlert() = 0;

    TeleDC tele;
    float last_v;
    float last_i;
    float diff_v;
    float diff_i;
    std::string model_text;

private:
    using Reader = child::PayloadReader;
    static constexpr int kRecordSize = static_cast<int>(sizeof(TeleDC));
    static constexpr const char* kDcMTooLarge =
        "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError {} read dc_m is {}, MAX_M is {}";
    static constexpr const char* kDcNTooLarge =
        "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError {} read dc_n is {}, MAX_N is {}";
    static constexpr const char* kUserPTooLarge =
        "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError {} read p_count is {}, support user_p max is {}";
    static constexpr const char* kAlertPTooLarge =
        "PMBusPowerDC<TeleDC, RT_DC>:ProcotolError {} read 42_44 p is {},  alert_p is {}";

    int Overflow(const char* tmpl, const Reader& r, int len) const {
        InfoLog(tmpl, DataId(), r.position(), len);
        return -1;
    }
    bool ReadValueGroup(Reader& r, uint8_t count, void* slots, uint8_t capacity, const char* tmpl);
    int StepOverUserValues(Reader& r, uint8_t p, int len);
    bool ReadUserValues(Reader& r, uint8_t p);
    static bool TakeClamped(Reader& r, uint8_t count, void* slots, uint8_t capacity);
    static void PrintHead(const uint8_t* data, int len);
    void PassVoltageRules();
    void PassFuseRules();
};

template <class TeleDC, int RT_DC>
int PMBusPowerDC<TeleDC, RT_DC>::parse42_41(const uint8_t* data, int len) {
    static constexpr const char* kOverflow =
        "PMBusPowerAC:ProcotolError {} read 42_41 read overflow {} - {}";
    PrintHead(data, len);
    Reader r(data, len);
    uint8_t m = 0, n = 0, p = 0;
    if (!r.copy(&tele.v, 4) || !r.copy(&tele.i, 4) || !r.u8(m)) {
        return Overflow(kOverflow, r, len);
    }
    tele.dc_m = m;
    if (!ReadValueGroup(r, m, &tele.m_values, TeleDC::M_SIZE(), kDcMTooLarge) || !r.u8(n)) {
        return Overflow(kOverflow, r, len);
    }
    tele.dc_n = n;
    if (!ReadValueGroup(r, n, &tele.n_values, TeleDC::N_SIZE(), kDcNTooLarge) || !r.u8(p)) {
        return Overflow(kOverflow, r, len);
    }
    tele.p_count = p;
    if (p > TeleDC::P_SIZE()) return StepOverUserValues(r, p, len);
    if (!ReadUserValues(r, p)) return Overflow(kOverflow, r, len);
    return r.position();
}

// More user-defined values than the record holds are logged and not stored.
// When they are all in the reply they are stepped over: taking the rest of the
// reply instead would leave the next screen nothing and stall the DC group for
// good. When they are not, there is no block end to find, and the block takes
// the rest of the reply without an overflow line.
template <class TeleDC, int RT_DC>
int PMBusPowerDC<TeleDC, RT_DC>::StepOverUserValues(Reader& r, uint8_t p, int len) {
    constexpr uint8_t pMax = TeleDC::P_SIZE();
    InfoLog(kUserPTooLarge, DataId(), p, pMax);
    return r.skip(4 * p) ? r.position() : len;
}

// User-defined values one by one, a not-provided marker stored as -0.1.
template <class TeleDC, int RT_DC>
bool PMBusPowerDC<TeleDC, RT_DC>::ReadUserValues(Reader& r, uint8_t p) {
    return child::ReadValues(r, &tele.p_values, p, child::Marker::EqualNonZero,
                             child::kFillMinusTenth);
}

// Stores `count` 4-byte values as received into the first `count` slots, the
// others keeping their contents; a count above `capacity` is logged with `tmpl`
// and its values stepped over.
template <class TeleDC, int RT_DC>
bool PMBusPowerDC<TeleDC, RT_DC>::ReadValueGroup(Reader& r, uint8_t count, void* slots,
                                                 uint8_t capacity, const char* tmpl) {
    if (count > capacity) {
        InfoLog(tmpl, DataId(), count, capacity);
        return r.skip(4 * count);
    }
    return r.copy(slots, 4 * count);
}

template <class TeleDC, int RT_DC>
int PMBusPowerDC<TeleDC, RT_DC>::parse42_44(const uint8_t* data, int len) {
    static constexpr const char* kOverflow =
        "PMBusPowerAC:ProcotolError {} read 42_44 read overflow {} - {}";
    Reader r(data, len);
    uint8_t vAlarm = 0, m = 0, p = 0;
    if (!r.u8(vAlarm)) return Overflow(kOverflow, r, len);
    tele.v_alarm = vAlarm;
    if (!r.u8(m)) return Overflow(kOverflow, r, len);
    tele.alert_m_count = m;
    // More fuse states than slots are clamped without a log line.
    if (!TakeClamped(r, m, &tele.alert_m, TeleDC::ALERT_M_SIZE()) || !r.u8(p)) {
        return Overflow(kOverflow, r, len);
    }
    tele.alert_p_count = p;
    constexpr uint8_t pMax = TeleDC::ALERT_P_SIZE();
    if (p > pMax) InfoLog(kAlertPTooLarge, DataId(), p, pMax);
    if (!TakeClamped(r, p, &tele.alert_p, pMax)) return Overflow(kOverflow, r, len);
    return r.position();
}

// Copies the first `capacity` bytes of a group of `count` into `slots`, then
// steps over the rest; the copy is kept when only the step does not fit.
template <class TeleDC, int RT_DC>
bool PMBusPowerDC<TeleDC, RT_DC>::TakeClamped(Reader& r, uint8_t count, void* slots,
                                              uint8_t capacity) {
    const uint8_t kept = std::min(count, capacity);
    return r.copy(slots, kept) && r.skip(count - kept);
}

// The first four bytes of a 42/41 block, or as many of them as lie within `len`.
template <class TeleDC, int RT_DC>
void PMBusPowerDC<TeleDC, RT_DC>::PrintHead(const uint8_t* data, int len) {
    if (len >= 4) {
        std::printf("parse 42 41: %x %x %x %x\n", static_cast<unsigned>(data[0]),
                    static_cast<unsigned>(data[1]), static_cast<unsigned>(data[2]),
                    static_cast<unsigned>(data[3]));
        return;
    }
    std::printf("parse 42 41:");
    for (int k = 0; k < len; ++k) std::printf(" %x", static_cast<unsigned>(data[k]));
    std::printf("\n");
}

template <class TeleDC, int RT_DC>
bool PMBusPowerDC<TeleDC, RT_DC>::LoadFromCache(const unsigned char* data, int len) {
    if (data == nullptr || len != kRecordSize) return false;
    std::memcpy(&tele, data, sizeof(TeleDC));
    dataReady_ = true;
    updateTime_ = host_local_now();
    return true;
}

#include "PMBusPowerDC_cycle.h"
