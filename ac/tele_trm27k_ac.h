#pragma once
// AC distribution records. Their byte images are published, saved as history
// and read back from the cache, so every size and offset below is binding.
// Multi-byte fields are little-endian and sit at odd offsets: read and write
// them by value or with memcpy, never through a reference or pointer.
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// The screen record: phase currents, breaker and status bytes, alarm states.
template <uint8_t AIRLOCK_MAX_, uint8_t P40_43_SIZE_>
struct tele_c_pmbuspower_ac {
    static constexpr uint8_t AIRLOCK_MAX() { return AIRLOCK_MAX_; }
    static constexpr uint8_t P40_43_SIZE() { return P40_43_SIZE_; }

    uint32_t id;
    float ia;
    float ib;
    float ic;
    uint8_t channel_count;
    uint8_t airlock_m;
    uint8_t airlock[AIRLOCK_MAX_];  // no slots when AIRLOCK_MAX is 0
    uint8_t status_p;
    uint8_t status_user[P40_43_SIZE_];
    uint8_t ia_alert;
    uint8_t ib_alert;
    uint8_t ic_alert;
    uint8_t ttime[7];
};

// One input channel: line voltages, frequency, user values and alarm states.
template <uint8_t P40_41_SIZE_, uint8_t p40_44_SIZE_>
struct tele_c_pmbuspower_ac_channel {
    static constexpr uint8_t P40_41_SIZE() { return P40_41_SIZE_; }
    static constexpr uint8_t p40_44_SIZE() { return p40_44_SIZE_; }

    float a;
    float b;
    float c;
    float f;
    uint8_t analog_p;
    float analog_user[P40_41_SIZE_];
    uint8_t a_alert;
    uint8_t b_alert;
    uint8_t c_alert;
    uint8_t f_alert;
    uint8_t alarm_p;
    uint8_t alarm_user[p40_44_SIZE_];
};

#pragma pack(pop)

using tele_c_trm27k_ac = tele_c_pmbuspower_ac<0, 13>;
using tele_c_trm27k_ac_channel = tele_c_pmbuspower_ac_channel<30, 18>;

static_assert(sizeof(tele_c_trm27k_ac) == 42, "AC screen record is 42 bytes");
static_assert(offsetof(tele_c_trm27k_ac, ia) == 4 && offsetof(tele_c_trm27k_ac, ic) == 12);
static_assert(offsetof(tele_c_trm27k_ac, channel_count) == 16);
static_assert(offsetof(tele_c_trm27k_ac, airlock_m) == 17);
static_assert(offsetof(tele_c_trm27k_ac, status_p) == 18);
static_assert(offsetof(tele_c_trm27k_ac, status_user) == 19);
static_assert(offsetof(tele_c_trm27k_ac, ia_alert) == 32);
static_assert(offsetof(tele_c_trm27k_ac, ic_alert) == 34);
static_assert(offsetof(tele_c_trm27k_ac, ttime) == 35);

static_assert(sizeof(tele_c_trm27k_ac_channel) == 160, "AC channel record is 160 bytes");
static_assert(offsetof(tele_c_trm27k_ac_channel, f) == 12);
static_assert(offsetof(tele_c_trm27k_ac_channel, analog_p) == 16);
static_assert(offsetof(tele_c_trm27k_ac_channel, analog_user) == 17);
static_assert(offsetof(tele_c_trm27k_ac_channel, a_alert) == 137);
static_assert(offsetof(tele_c_trm27k_ac_channel, f_alert) == 140);
static_assert(offsetof(tele_c_trm27k_ac_channel, alarm_p) == 141);
static_assert(offsetof(tele_c_trm27k_ac_channel, alarm_user) == 142);
