#pragma once
// Rectifier records. The rectifier data image is the group record followed by
// one module record per rectifier module; it is published, saved as history
// and read back from the cache, so every size and offset below is binding.
// Multi-byte fields are little-endian and sit at odd offsets: read and write
// them by value or with memcpy, never through a reference or pointer.
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// The group record: both parameter replies, the group value and the module count.
template <uint8_t P42_46_NUMBER_, uint8_t P42_46_SIZE_>
struct tele_c_pmbuspower_rc {
    // Count of values the DC parameter reply must announce.
    static constexpr uint8_t P42_46_NUMBER() { return P42_46_NUMBER_; }
    // Bytes of those values the record keeps.
    static constexpr uint8_t P42_46_SIZE() { return P42_46_SIZE_; }

    uint32_t id;
    float ac_param[5];
    float dc_param[2];
    uint8_t dc_param_p;
    uint8_t dc_param_user[P42_46_SIZE_];
    float group_value;
    uint8_t channel_count;
    uint8_t ttime[7];
};

// One rectifier module: analog values, status bytes, fault and alarm bytes.
template <uint8_t P41_41_SIZE_, uint8_t P41_43_SIZE_, uint8_t P41_44_SIZE_>
struct tele_c_pmbuspower_rc_channel {
    static constexpr uint8_t P41_41_SIZE() { return P41_41_SIZE_; }
    static constexpr uint8_t P41_43_SIZE() { return P41_43_SIZE_; }
    static constexpr uint8_t P41_44_SIZE() { return P41_44_SIZE_; }

    float module_value;
    uint8_t analog_p;
    float analog_user[P41_41_SIZE_];
    uint8_t status[3];
    uint8_t status_p;
    uint8_t status_user[P41_43_SIZE_];
    uint8_t fault;  // 1 is a module fault
    uint8_t alarm_p;
    uint8_t alarm_user[P41_44_SIZE_];
};

struct tele_c_trm27k_rc : tele_c_pmbuspower_rc<67, 208> {};
struct tele_c_trm27k_rc_channel : tele_c_pmbuspower_rc_channel<13, 16, 18> {};

#pragma pack(pop)

static_assert(sizeof(tele_c_trm27k_rc) == 253, "rectifier group record is 253 bytes");
static_assert(offsetof(tele_c_trm27k_rc, ac_param) == 4);
static_assert(offsetof(tele_c_trm27k_rc, dc_param) == 24);
static_assert(offsetof(tele_c_trm27k_rc, dc_param_p) == 32);
static_assert(offsetof(tele_c_trm27k_rc, dc_param_user) == 33);
static_assert(offsetof(tele_c_trm27k_rc, group_value) == 241);
static_assert(offsetof(tele_c_trm27k_rc, channel_count) == 245);
static_assert(offsetof(tele_c_trm27k_rc, ttime) == 246);

static_assert(sizeof(tele_c_trm27k_rc_channel) == 97, "rectifier module record is 97 bytes");
static_assert(offsetof(tele_c_trm27k_rc_channel, analog_p) == 4);
static_assert(offsetof(tele_c_trm27k_rc_channel, analog_user) == 5);
static_assert(offsetof(tele_c_trm27k_rc_channel, status) == 57);
static_assert(offsetof(tele_c_trm27k_rc_channel, status_p) == 60);
static_assert(offsetof(tele_c_trm27k_rc_channel, status_user) == 61);
static_assert(offsetof(tele_c_trm27k_rc_channel, fault) == 77);
static_assert(offsetof(tele_c_trm27k_rc_channel, alarm_p) == 78);
static_assert(offsetof(tele_c_trm27k_rc_channel, alarm_user) == 79);
