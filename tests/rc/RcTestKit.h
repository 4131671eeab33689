#pragma once
// A rectifier child bound to a recording controller, and builders for its
// replies. Built values never have four equal bytes, so the marker rule
// leaves them alone unless a test puts a marker in on purpose.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Bytes.h"
#include "RecordingController.h"
#include "TRM27KRC.h"

namespace testing_support {

using RcParser = int (TRM27KRC::*)(const uint8_t*, int);

struct RcFixture : ::testing::Test {
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    ParentDevice parent;
    std::shared_ptr<TRM27KRC> rc =
        std::make_shared<TRM27KRC>();  // RoundDone needs shared_from_this
    void SetUp() override {
        parent.Init(controller, 1, Json::Value());
        rc->InitV(&parent, 7, Json::Value(Json::objectValue));
    }
    int Parse(RcParser parse, const Bytes& b) {
        return (rc.get()->*parse)(b.data(), static_cast<int>(b.size()));
    }
    // Parses the first `cut` bytes from a heap copy of exactly that size, so
    // AddressSanitizer catches any read past the cut.
    int ParseCut(RcParser parse, const Bytes& reply, size_t cut) {
        const Bytes part(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(cut));
        return (rc.get()->*parse)(part.data(), static_cast<int>(cut));
    }
    std::string LastLog() const {
        return controller->logs.empty() ? std::string() : controller->logs.back().text;
    }
};

// Module m's analog value k.
inline float AnalogOf(int m, int k) {
    return 100.0f * static_cast<float>(m + 1) + 0.5f + k;
}

inline void PutModuleValues(Bytes& b, int m, uint8_t p = 13) {
    PutF(b, 1000.25f + static_cast<float>(m));
    Put(b, p);
    for (int k = 0; k < p; ++k) PutF(b, AnalogOf(m, k));
}

// 41/41: DATAFLAG, group value, count and `modules` complete module blocks.
inline Bytes AnalogReply(uint8_t modules, float group = 53.5f) {
    Bytes b{0x11};
    PutF(b, group);
    Put(b, modules);
    for (int m = 0; m < modules; ++m) PutModuleValues(b, m);
    return b;
}

// 41/43: per module status bytes 1 2 3 (plus the module index) and 16 user bytes.
inline Bytes StatusReply(uint8_t modules) {
    Bytes b{0x10, modules};
    for (uint8_t m = 0; m < modules; ++m) {
        Put(b, 1 + m);
        Put(b, 2 + m);
        Put(b, 3 + m);
        Put(b, 16);
        for (uint8_t k = 0; k < 16; ++k) Put(b, static_cast<uint8_t>(0x40 + k + m));
    }
    return b;
}

inline void PutAlarmModule(Bytes& b, uint8_t fault, const Bytes& alarms) {
    Put(b, fault);
    Put(b, static_cast<uint8_t>(alarms.size()));
    PutBytes(b, alarms);
}

// 41/44 with `modules` modules, no fault and 18 alarm bytes of `fill`.
inline Bytes AlarmReply(uint8_t modules, uint8_t fill = 0) {
    Bytes b{0x01, modules};
    for (uint8_t m = 0; m < modules; ++m) PutAlarmModule(b, 0, Bytes(18, fill));
    return b;
}

// 40/46 and 42/46: the fixed values, the count and `p` further values.
inline Bytes AcParamReply(uint8_t p) {
    Bytes b;
    for (int k = 0; k < 5; ++k) PutF(b, 220.5f + k);
    Put(b, p);
    for (int k = 0; k < p; ++k) PutF(b, 1.5f + k);
    return b;
}
inline Bytes DcParamReply(uint8_t p) {
    Bytes b;
    PutF(b, 53.5f);
    PutF(b, 43.5f);
    Put(b, p);
    for (int k = 0; k < p; ++k) {
        Put(b, static_cast<uint8_t>(k + 1));
        PutN(b, 0x41, 3);
    }
    return b;
}

// The last log line is an overflow line that reports `cut` as the length
// and a position beyond it.
inline void ExpectOverflowAt(const RecordingController& c, size_t cut) {
    ASSERT_FALSE(c.logs.empty()) << cut;
    const host::LogLine& line = c.logs.back();
    EXPECT_NE(std::string::npos, line.text.find("overflow")) << line.text;
    ASSERT_EQ(3u, line.args.size());
    EXPECT_EQ(std::to_string(cut), line.args[2]) << line.text;
    EXPECT_GT(std::stoi(line.args[1]), static_cast<int>(cut)) << line.text;
}

}  // namespace testing_support
