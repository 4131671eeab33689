#pragma once
// The DC distribution record. Its 450-byte image is published, saved as
// history and read back from the cache, so every size and offset below is
// binding. Multi-byte fields are little-endian and most sit at odd offsets:
// read and write them by value or with memcpy, never through a reference or
// pointer.
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// One DC screen: voltage and current, the m, n and user-defined value groups,
// the voltage alarm, the fuse states and the user-defined alarm bytes. The
// count fields hold the counts as received, even above the capacities.
template <uint8_t M_, uint8_t N_, uint8_t P_, uint8_t ALERT_M_, uint8_t ALERT_P_>
struct tele_c_pmbuspower_dc {
    static constexpr uint8_t M_SIZE() { return M_; }
    static constexpr uint8_t N_SIZE() { return N_; }
    static constexpr uint8_t P_SIZE() { return P_; }
    static constexpr uint8_t ALERT_M_SIZE() { return ALERT_M_; }
    static constexpr uint8_t ALERT_P_SIZE() { return ALERT_P_; }

    uint32_t id;
    float v;
    float i;
    uint8_t dc_m;
    float m_values[M_];
    uint8_t dc_n;
    float n_values[N_];
    uint8_t p_count;
    float p_values[P_];
    uint8_t v_alarm;  // 1 too low, 2 too high
    uint8_t alert_m_count;
    uint8_t alert_m[ALERT_M_];  // 3 is a fuse fault
    uint8_t alert_p_count;
    uint8_t alert_p[ALERT_P_];
    uint8_t ttime[7];
};

#pragma pack(pop)

using tele_c_trm27k_dc = tele_c_pmbuspower_dc<6, 6, 55, 6, 151>;

static_assert(sizeof(tele_c_trm27k_dc) == 450, "DC record is 450 bytes");
static_assert(tele_c_trm27k_dc::M_SIZE() == 6 && tele_c_trm27k_dc::N_SIZE() == 6 &&
              tele_c_trm27k_dc::P_SIZE() == 55 && tele_c_trm27k_dc::ALERT_M_SIZE() == 6 &&
              tele_c_trm27k_dc::ALERT_P_SIZE() == 151);
static_assert(offsetof(tele_c_trm27k_dc, id) == 0);
static_assert(offsetof(tele_c_trm27k_dc, v) == 4);
static_assert(offsetof(tele_c_trm27k_dc, i) == 8);
static_assert(offsetof(tele_c_trm27k_dc, dc_m) == 12);
static_assert(offsetof(tele_c_trm27k_dc, m_values) == 13);
static_assert(offsetof(tele_c_trm27k_dc, dc_n) == 37);
static_assert(offsetof(tele_c_trm27k_dc, n_values) == 38);
static_assert(offsetof(tele_c_trm27k_dc, p_count) == 62);
static_assert(offsetof(tele_c_trm27k_dc, p_values) == 63);
static_assert(offsetof(tele_c_trm27k_dc, v_alarm) == 283);
static_assert(offsetof(tele_c_trm27k_dc, alert_m_count) == 284);
static_assert(offsetof(tele_c_trm27k_dc, alert_m) == 285);
static_assert(offsetof(tele_c_trm27k_dc, alert_p_count) == 291);
static_assert(offsetof(tele_c_trm27k_dc, alert_p) == 292);
static_assert(offsetof(tele_c_trm27k_dc, ttime) == 443);
