#pragma once
// Builders of AC reply blocks and a bound AC child, shared by the AC tests.
#include "Bytes.h"
#include "RecordingController.h"
#include "TRM27KAC.h"

namespace testing_support {

// One channel block of 40/41 with p user values, every byte of them `user`.
inline void PutAcChannel(Bytes& out, float a, float b, float c, float f, uint8_t p = 30,
                         uint8_t user = 0x00) {
    PutF(out, a); PutF(out, b); PutF(out, c); PutF(out, f);
    Put(out, p);
    PutN(out, user, 4u * p);
}

// A 40/41 block of n channels: a = 220 + k, b 221, c 222, f 50; ia ib ic 1.5 2.5 3.5.
inline Bytes AcAnalogBlock(uint8_t n) {
    Bytes out{n};
    for (uint8_t k = 0; k < n; ++k) PutAcChannel(out, 220.0f + k, 221.0f, 222.0f, 50.0f);
    PutF(out, 1.5f); PutF(out, 2.5f); PutF(out, 3.5f);
    return out;
}

// A 40/44 block: the same four states for every channel, then the current states.
inline Bytes AcAlarmBlock(uint8_t n, const uint8_t (&states)[4], const uint8_t (&currents)[3]) {
    Bytes out{n};
    for (uint8_t k = 0; k < n; ++k) {
        out.insert(out.end(), states, states + 4);
        Put(out, 0);
        Put(out, 18);
        PutN(out, 0, 18);
    }
    out.insert(out.end(), currents, currents + 3);
    return out;
}

// An AC child bound to a recording controller through a parent, as in the product.
struct BoundAc {
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    std::shared_ptr<ParentDevice> parent = std::make_shared<ParentDevice>();
    std::shared_ptr<TRM27KAC> ac = std::make_shared<TRM27KAC>();
    explicit BoundAc(unsigned int id = 11, const Json::Value& entry = Json::Value(Json::objectValue)) {
        parent->Init(controller, 1, Json::Value());
        ac->InitV(parent.get(), id, entry);
    }
    int Feed41(const Bytes& b) { return ac->parse40_41(b.data(), static_cast<int>(b.size())); }
    int Feed44(const Bytes& b) { return ac->parse40_44(b.data(), static_cast<int>(b.size())); }
};

}  // namespace testing_support
