#pragma once
// Well-formed reply data for each parser, built the way the power system
// sends it: the starting points of the seed corpus, and the first analog
// reply that gives a child its unit count before a target feeds it.
#include <cstdint>
#include <cstring>

#include "FuzzInput.h"

namespace fuzzkit {

inline void PutF(Bytes& out, float f) {
    uint8_t raw[4];
    std::memcpy(raw, &f, 4);  // the wire is little-endian, like the hosts this builds on
    out.insert(out.end(), raw, raw + 4);
}
inline void PutN(Bytes& out, uint8_t b, size_t n) { out.insert(out.end(), n, b); }
inline void PutFloats(Bytes& out, size_t n, float first) {
    for (size_t k = 0; k < n; ++k) PutF(out, first + static_cast<float>(k));
}

// AC 40/41 block: n channels of a b c f and 30 user values, then ia ib ic.
inline Bytes AcAnalogBlock(uint8_t n) {
    Bytes out{n};
    for (uint8_t k = 0; k < n; ++k) {
        PutFloats(out, 4, 220.0f + k);
        out.push_back(30);
        PutFloats(out, 30, 1.25f);
    }
    PutFloats(out, 3, 1.5f);
    return out;
}
// AC 40/43 block: no breaker states, 13 status bytes.
inline Bytes AcStatusBlock() {
    Bytes out{0, 13};
    PutN(out, 0x01, 13);
    return out;
}
// AC 40/44 block: per channel the four states, no extra items, 18 user alarm
// bytes; then the three current states.
inline Bytes AcAlarmBlock(uint8_t n, uint8_t state) {
    Bytes out{n};
    for (uint8_t k = 0; k < n; ++k) {
        PutN(out, state, 4);
        out.push_back(0);
        out.push_back(18);
        PutN(out, 0, 18);
    }
    PutN(out, state, 3);
    return out;
}

// DC 42/41 block: v, i, m, n and p value groups.
inline Bytes DcAnalogBlock(uint8_t m, uint8_t n, uint8_t p) {
    Bytes out;
    PutF(out, 48.0f);
    PutF(out, 12.5f);
    out.push_back(m);
    PutFloats(out, m, 1.0f);
    out.push_back(n);
    PutFloats(out, n, 101.0f);
    out.push_back(p);
    PutFloats(out, p, 201.0f);
    return out;
}
// DC 42/44 block: the voltage alarm, 6 fuse states, 151 user alarm bytes.
inline Bytes DcAlarmBlock(uint8_t vAlarm) {
    Bytes out{vAlarm, 6};
    PutN(out, 0, 6);
    out.push_back(151);
    PutN(out, 0, 151);
    return out;
}

// Rectifier 41/41: DATAFLAG, group value, M and M modules of 13 values.
inline Bytes RcAnalogReply(uint8_t modules) {
    Bytes out{0x11};
    PutF(out, 53.5f);
    out.push_back(modules);
    for (uint8_t m = 0; m < modules; ++m) {
        PutF(out, 1000.25f + m);
        out.push_back(13);
        PutFloats(out, 13, 100.5f * (m + 1));
    }
    return out;
}
// Rectifier 41/43: DATAFLAG, m, per module 3 status bytes and 16 user bytes.
inline Bytes RcStatusReply(uint8_t modules) {
    Bytes out{0x10, modules};
    for (uint8_t m = 0; m < modules; ++m) {
        PutN(out, static_cast<uint8_t>(m + 1), 3);
        out.push_back(16);
        PutN(out, 0x40, 16);
    }
    return out;
}
// Rectifier 41/44: DATAFLAG, m, per module the fault byte and 18 alarm bytes.
inline Bytes RcAlarmReply(uint8_t modules, uint8_t fault) {
    Bytes out{0x01, modules};
    for (uint8_t m = 0; m < modules; ++m) {
        out.push_back(fault);
        out.push_back(18);
        PutN(out, fault, 18);
    }
    return out;
}
// 40/46: five values, p and p further values.
inline Bytes AcParamReply(uint8_t p) {
    Bytes out;
    PutFloats(out, 5, 220.5f);
    out.push_back(p);
    PutFloats(out, p, 1.5f);
    return out;
}
// 42/46: two values, p and p further values.
inline Bytes DcParamReply(uint8_t p) {
    Bytes out;
    PutF(out, 53.5f);
    PutF(out, 43.5f);
    out.push_back(p);
    PutFloats(out, p, 2.5f);
    return out;
}

// A group reply of the main device: DATAFLAG, the unit count, one block per unit.
inline Bytes GroupReply(uint8_t flag, uint8_t count, const Bytes& block) {
    Bytes out{flag, count};
    for (uint8_t k = 0; k < count; ++k) out.insert(out.end(), block.begin(), block.end());
    return out;
}
// The 20-byte model text.
inline Bytes ModelReply() {
    Bytes out{'T', 'R', 'M', '2', '7', 'K'};
    PutN(out, 0, 14);
    return out;
}

}  // namespace fuzzkit
