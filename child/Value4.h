#pragma once
// 4-byte analog values: IEEE-754 single precision, least significant byte
// first, copied into records unchanged. A value whose four bytes are all equal
// is the power system's "not provided" marker; which fields honour it, and
// whether four zero bytes count as a marker, differs per record.
#include <cstdint>
#include <cstring>

#include "PayloadReader.h"

namespace child {

// -0.1f, bit pattern 0xBDCCCCCD, least significant byte first.
constexpr uint8_t kFillMinusTenth[4] = {0xCD, 0xCC, 0xCC, 0xBD};
constexpr uint8_t kFillZero[4] = {0, 0, 0, 0};

enum class Marker {
    None,          // every value is stored as received
    EqualNonZero,  // four equal bytes that are not zero (AC and DC children)
    EqualAny,      // four equal bytes, zero included (rectifier modules)
};

inline bool IsMarker(const uint8_t* b, Marker rule) {
    const bool equal = b[0] == b[1] && b[1] == b[2] && b[2] == b[3];
    switch (rule) {
        case Marker::EqualNonZero: return equal && b[0] != 0;
        case Marker::EqualAny: return equal;
        case Marker::None: break;
    }
    return false;
}

// Reads one value into `field` (a record field of 4 bytes); a marked value
// stores `fill` instead.
inline bool ReadValue(PayloadReader& r, void* field, Marker rule, const uint8_t (&fill)[4]) {
    uint8_t raw[4];
    if (!r.copy(raw, 4)) return false;
    std::memcpy(field, IsMarker(raw, rule) ? fill : raw, 4);
    return true;
}

// Reads `count` consecutive values into an array field of at least `count` values.
inline bool ReadValues(PayloadReader& r, void* field, int count, Marker rule,
                       const uint8_t (&fill)[4]) {
    auto* out = static_cast<uint8_t*>(field);
    for (int k = 0; k < count; ++k) {
        if (!ReadValue(r, out + 4 * k, rule, fill)) return false;
    }
    return true;
}

}  // namespace child
