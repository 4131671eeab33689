#pragma once
// Data images for tests of the site model and its outputs: an AC screen with
// its channels and a DC screen, built from the records themselves.
#include <cstring>
#include <vector>

#include "tele_trm27k_ac.h"
#include "tele_trm27k_dc.h"

#include "rule_value.h"

namespace testing_support {

// An alarm rule as a child's batch passes it.
inline rule_value Rule(const char* key, const char* detail, bool active, unsigned int dataId = 11,
                       const char* code = "06014", const char* name = "交流输入电压过高告警") {
    rule_value r;
    r.level = 2;
    r.key = key;
    r.code = code;
    r.name = name;
    r.detail = detail;
    r.active = active ? 1 : 0;
    r.data_id = dataId;
    return r;
}

constexpr uint8_t kMarker[4] = {0x20, 0x20, 0x20, 0x20};    // not provided, kept as received
constexpr uint8_t kFillTenth[4] = {0xCD, 0xCC, 0xCC, 0xBD};  // not provided, filled with -0.1

template <class Record>
void Append(std::vector<uint8_t>& image, const Record& r) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&r);
    image.insert(image.end(), bytes, bytes + sizeof(Record));
}

// An AC screen whose channels carry `volts` on every phase and 50 Hz.
inline std::vector<uint8_t> AcImage(unsigned int id, int channels, float volts, float amps) {
    tele_c_trm27k_ac tele{};
    tele.id = id;
    tele.ia = tele.ib = tele.ic = amps;
    tele.channel_count = static_cast<uint8_t>(channels);
    std::vector<uint8_t> image;
    Append(image, tele);
    for (int k = 0; k < channels; ++k) {
        tele_c_trm27k_ac_channel ch{};
        ch.a = ch.b = ch.c = volts;
        ch.f = 50.0f;
        Append(image, ch);
    }
    return image;
}

inline std::vector<uint8_t> DcImage(unsigned int id, float volts, float amps) {
    tele_c_trm27k_dc dc{};
    dc.id = id;
    dc.v = volts;
    dc.i = amps;
    std::vector<uint8_t> image;
    Append(image, dc);
    return image;
}

// Overwrites the 4-byte value at `offset` with `bytes`.
inline void Put(std::vector<uint8_t>& image, size_t offset, const uint8_t (&bytes)[4]) {
    std::memcpy(image.data() + offset, bytes, 4);
}

}  // namespace testing_support
