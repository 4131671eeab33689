#pragma once
// Builders of DC reply blocks and a bound DC child, shared by the DC tests.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "Bytes.h"
#include "RecordingController.h"
#include "TRM27KDC.h"

namespace testing_support {

// `count` floats start, start + 1, ...
inline std::vector<float> Floats(size_t count, float start) {
    std::vector<float> out;
    for (size_t k = 0; k < count; ++k) out.push_back(start + static_cast<float>(k));
    return out;
}
// The wire bytes of `values`, least significant byte first.
inline Bytes Raw(const std::vector<float>& values) {
    Bytes out;
    for (float f : values) PutF(out, f);
    return out;
}
// `count` bytes start, start + 1, ... (wrapping).
inline Bytes Iota(size_t count, uint8_t start) {
    Bytes out;
    for (size_t k = 0; k < count; ++k) out.push_back(static_cast<uint8_t>(start + k));
    return out;
}

// A 42/41 block: v, i, the m and n value groups and the raw user-defined
// values (4 bytes each), every count taken from its group.
inline Bytes DcAnalogBlock(float v, float i, const std::vector<float>& m,
                           const std::vector<float>& n, const Bytes& userRaw) {
    Bytes out;
    PutF(out, v);
    PutF(out, i);
    Put(out, static_cast<uint8_t>(m.size()));
    PutBytes(out, Raw(m));
    Put(out, static_cast<uint8_t>(n.size()));
    PutBytes(out, Raw(n));
    Put(out, static_cast<uint8_t>(userRaw.size() / 4));
    PutBytes(out, userRaw);
    return out;
}
// The same with m values 1, 2, ..., n values 101, 102, ... and p user values 201, 202, ...
inline Bytes DcAnalogBlock(uint8_t m, uint8_t n, uint8_t p) {
    return DcAnalogBlock(48.0f, 12.5f, Floats(m, 1.0f), Floats(n, 101.0f), Raw(Floats(p, 201.0f)));
}

// A 42/44 block: v_alarm, the fuse states and the user-defined alarm bytes.
inline Bytes DcAlarmBlock(uint8_t vAlarm, const Bytes& fuses, const Bytes& user) {
    Bytes out{vAlarm, static_cast<uint8_t>(fuses.size())};
    PutBytes(out, fuses);
    Put(out, static_cast<uint8_t>(user.size()));
    PutBytes(out, user);
    return out;
}

// The record's bytes, as published and saved.
inline Bytes RecordBytes(const tele_c_trm27k_dc& tele) {
    const auto* p = reinterpret_cast<const uint8_t*>(&tele);
    return Bytes(p, p + sizeof(tele));
}

// A DC child bound to a recording controller through a parent, as in the
// product; held by a shared pointer because RoundDone needs shared_from_this.
struct BoundDc {
    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
    std::shared_ptr<ParentDevice> parent = std::make_shared<ParentDevice>();
    std::shared_ptr<TRM27KDC> dc = std::make_shared<TRM27KDC>();
    explicit BoundDc(unsigned int id = 21,
                     const Json::Value& entry = Json::Value(Json::objectValue)) {
        parent->Init(controller, 1, Json::Value());
        dc->InitV(parent.get(), id, entry);
    }
    // Each parser gets a heap copy of exactly `len` bytes (the whole block when
    // `len` is negative, at most the block), so AddressSanitizer catches any
    // read past `len`.
    int Feed41(const Bytes& b, int len = -1) { return Feed(b, len, &TRM27KDC::parse42_41); }
    int Feed44(const Bytes& b, int len = -1) { return Feed(b, len, &TRM27KDC::parse42_44); }
    std::string LastLog() const {
        return controller->logs.empty() ? std::string() : controller->logs.back().text;
    }

private:
    int Feed(const Bytes& b, int len, int (TRM27KDC::*parse)(const uint8_t*, int)) {
        const size_t n = len < 0 ? b.size() : std::min(b.size(), static_cast<size_t>(len));
        std::unique_ptr<uint8_t[]> copy(new uint8_t[n == 0 ? 1 : n]);
        if (n > 0) std::memcpy(copy.get(), b.data(), n);
        return ((*dc).*parse)(n == 0 ? nullptr : copy.get(), static_cast<int>(n));
    }
};

}  // namespace testing_support
