#pragma once
// The field tables of the three data images, built from the record types
// themselves so a name can never drift from its offset.
// Columns: field name, offset, kind, count (values in an array field).
#include <cstddef>
#include <cstdint>

#include "tele_trm27k_ac.h"
#include "tele_trm27k_dc.h"
#include "tele_trm27k_rc.h"

namespace decode {

enum class Kind : uint8_t { U8, U32, F32, Bytes, F32Array };

struct Field {
    const char* name;
    size_t offset;
    Kind kind;
    size_t count;
};

#define TRM27K_FIELD(Record, name, kind, count) \
    Field { #name, offsetof(Record, name), Kind::kind, count }

using AcT = tele_c_trm27k_ac;
using AcC = tele_c_trm27k_ac_channel;
using DcT = tele_c_trm27k_dc;
using RcT = tele_c_trm27k_rc;
using RcC = tele_c_trm27k_rc_channel;

constexpr Field kAcScreen[] = {
    TRM27K_FIELD(AcT, id, U32, 1),          TRM27K_FIELD(AcT, ia, F32, 1),
    TRM27K_FIELD(AcT, ib, F32, 1),          TRM27K_FIELD(AcT, ic, F32, 1),
    TRM27K_FIELD(AcT, channel_count, U8, 1), TRM27K_FIELD(AcT, airlock_m, U8, 1),
    TRM27K_FIELD(AcT, status_p, U8, 1),     TRM27K_FIELD(AcT, status_user, Bytes, 13),
    TRM27K_FIELD(AcT, ia_alert, U8, 1),     TRM27K_FIELD(AcT, ib_alert, U8, 1),
    TRM27K_FIELD(AcT, ic_alert, U8, 1),     TRM27K_FIELD(AcT, ttime, Bytes, 7),
};
constexpr Field kAcChannel[] = {
    TRM27K_FIELD(AcC, a, F32, 1),           TRM27K_FIELD(AcC, b, F32, 1),
    TRM27K_FIELD(AcC, c, F32, 1),           TRM27K_FIELD(AcC, f, F32, 1),
    TRM27K_FIELD(AcC, analog_p, U8, 1),     TRM27K_FIELD(AcC, analog_user, F32Array, 30),
    TRM27K_FIELD(AcC, a_alert, U8, 1),      TRM27K_FIELD(AcC, b_alert, U8, 1),
    TRM27K_FIELD(AcC, c_alert, U8, 1),      TRM27K_FIELD(AcC, f_alert, U8, 1),
    TRM27K_FIELD(AcC, alarm_p, U8, 1),      TRM27K_FIELD(AcC, alarm_user, Bytes, 18),
};
constexpr Field kDcRecord[] = {
    TRM27K_FIELD(DcT, id, U32, 1),          TRM27K_FIELD(DcT, v, F32, 1),
    TRM27K_FIELD(DcT, i, F32, 1),           TRM27K_FIELD(DcT, dc_m, U8, 1),
    TRM27K_FIELD(DcT, m_values, F32Array, 6), TRM27K_FIELD(DcT, dc_n, U8, 1),
    TRM27K_FIELD(DcT, n_values, F32Array, 6), TRM27K_FIELD(DcT, p_count, U8, 1),
    TRM27K_FIELD(DcT, p_values, F32Array, 55), TRM27K_FIELD(DcT, v_alarm, U8, 1),
    TRM27K_FIELD(DcT, alert_m_count, U8, 1), TRM27K_FIELD(DcT, alert_m, Bytes, 6),
    TRM27K_FIELD(DcT, alert_p_count, U8, 1), TRM27K_FIELD(DcT, alert_p, Bytes, 151),
    TRM27K_FIELD(DcT, ttime, Bytes, 7),
};
constexpr Field kRcRecord[] = {
    TRM27K_FIELD(RcT, id, U32, 1),          TRM27K_FIELD(RcT, ac_param, F32Array, 5),
    TRM27K_FIELD(RcT, dc_param, F32Array, 2), TRM27K_FIELD(RcT, dc_param_p, U8, 1),
    TRM27K_FIELD(RcT, dc_param_user, F32Array, 52), TRM27K_FIELD(RcT, group_value, F32, 1),
    TRM27K_FIELD(RcT, channel_count, U8, 1), TRM27K_FIELD(RcT, ttime, Bytes, 7),
};
constexpr Field kRcModule[] = {
    TRM27K_FIELD(RcC, module_value, F32, 1), TRM27K_FIELD(RcC, analog_p, U8, 1),
    TRM27K_FIELD(RcC, analog_user, F32Array, 13), TRM27K_FIELD(RcC, status, Bytes, 3),
    TRM27K_FIELD(RcC, status_p, U8, 1),     TRM27K_FIELD(RcC, status_user, Bytes, 16),
    TRM27K_FIELD(RcC, fault, U8, 1),        TRM27K_FIELD(RcC, alarm_p, U8, 1),
    TRM27K_FIELD(RcC, alarm_user, Bytes, 18),
};

#undef TRM27K_FIELD

}  // namespace decode
