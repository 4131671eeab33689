#pragma once
// The field tables of the three data images, built from the record types
// themselves so a name can never drift from its offset. The decoder, the
// site model, the state messages, the metrics and the API all read values
// through these tables, so names, units and the "not provided" rules live here
// only.
// Columns: field name, offset, kind, count (values in an array field), unit
// ("" when the record does not say), and how a value the power system did not
// provide shows in the record.
#include <cstddef>
#include <cstdint>

#include "tele_trm27k_ac.h"
#include "tele_trm27k_dc.h"
#include "tele_trm27k_rc.h"

namespace site {

enum class Kind : uint8_t { U8, U32, F32, Bytes, F32Array };

// How a 4-byte value that the power system marked as not provided is stored.
enum class Absent : uint8_t {
    Never,       // stored as received, no marker recognised (or the fill is an ordinary 0)
    Marker,      // the marker itself is kept: four equal bytes that are not zero
    FillTenth,   // the parser stored -0.1 (bit pattern 0xBDCCCCCD) in its place
    FillZero,    // the parser stored 0.0, a value this field never measures
};

// An array field whose entries are valid only up to a count byte of the same
// record: entries at or past the count, and all of them when the count
// exceeds the field's capacity (the parser then stored none), hold what an
// earlier reply left.
constexpr size_t kNotCounted = ~size_t{0};

struct Field {
    const char* name;
    size_t offset;
    Kind kind;
    size_t count;
    const char* unit;
    Absent absent;
    size_t countAt = kNotCounted;  // offset of the count byte in the record
};

#define TRM27K_FIELD(Record, name, kind, count) \
    Field { #name, offsetof(Record, name), Kind::kind, count, "", Absent::Never }
#define TRM27K_VALUE(Record, name, kind, count, unit, absent) \
    Field { #name, offsetof(Record, name), Kind::kind, count, unit, Absent::absent }
#define TRM27K_COUNTED(Record, name, count, absent, countField) \
    Field { #name, offsetof(Record, name), Kind::F32Array, count, "", Absent::absent, offsetof(Record, countField) }

using AcT = tele_c_trm27k_ac;
using AcC = tele_c_trm27k_ac_channel;
using DcT = tele_c_trm27k_dc;
using RcT = tele_c_trm27k_rc;
using RcC = tele_c_trm27k_rc_channel;

constexpr Field kAcScreen[] = {
    TRM27K_FIELD(AcT, id, U32, 1),
    TRM27K_VALUE(AcT, ia, F32, 1, "A", FillTenth),
    TRM27K_VALUE(AcT, ib, F32, 1, "A", FillTenth),
    TRM27K_VALUE(AcT, ic, F32, 1, "A", FillTenth),
    TRM27K_FIELD(AcT, channel_count, U8, 1), TRM27K_FIELD(AcT, airlock_m, U8, 1),
    TRM27K_FIELD(AcT, status_p, U8, 1),     TRM27K_FIELD(AcT, status_user, Bytes, 13),
    TRM27K_FIELD(AcT, ia_alert, U8, 1),     TRM27K_FIELD(AcT, ib_alert, U8, 1),
    TRM27K_FIELD(AcT, ic_alert, U8, 1),     TRM27K_FIELD(AcT, ttime, Bytes, 7),
};
// The parser stores 0.0 for a line voltage or a frequency that was not
// provided. A dead input measures 0 V, so a voltage of 0.0 stays a reading
// (hiding a real outage would be worse than showing an unreported phase as
// 0 V); no input is ever measured at 0 Hz, so a frequency of 0.0 is taken as
// not provided. The user-defined values get the -0.1 fill.
constexpr Field kAcChannel[] = {
    TRM27K_VALUE(AcC, a, F32, 1, "V", Never),
    TRM27K_VALUE(AcC, b, F32, 1, "V", Never),
    TRM27K_VALUE(AcC, c, F32, 1, "V", Never),
    TRM27K_VALUE(AcC, f, F32, 1, "Hz", FillZero),
    TRM27K_FIELD(AcC, analog_p, U8, 1),
    TRM27K_VALUE(AcC, analog_user, F32Array, 30, "", FillTenth),
    TRM27K_FIELD(AcC, a_alert, U8, 1),      TRM27K_FIELD(AcC, b_alert, U8, 1),
    TRM27K_FIELD(AcC, c_alert, U8, 1),      TRM27K_FIELD(AcC, f_alert, U8, 1),
    TRM27K_FIELD(AcC, alarm_p, U8, 1),      TRM27K_FIELD(AcC, alarm_user, Bytes, 18),
};
// Only the user-defined values get the fill; the others keep the marker. The
// m values (battery currents) and n values (battery temperatures) count only
// up to dc_m and dc_n.
constexpr Field kDcRecord[] = {
    TRM27K_FIELD(DcT, id, U32, 1),
    TRM27K_VALUE(DcT, v, F32, 1, "V", Marker),
    TRM27K_VALUE(DcT, i, F32, 1, "A", Marker),
    TRM27K_FIELD(DcT, dc_m, U8, 1),
    TRM27K_COUNTED(DcT, m_values, 6, Marker, dc_m),
    TRM27K_FIELD(DcT, dc_n, U8, 1),
    TRM27K_COUNTED(DcT, n_values, 6, Marker, dc_n),
    TRM27K_FIELD(DcT, p_count, U8, 1),
    TRM27K_VALUE(DcT, p_values, F32Array, 55, "", FillTenth),
    TRM27K_FIELD(DcT, v_alarm, U8, 1),
    TRM27K_FIELD(DcT, alert_m_count, U8, 1), TRM27K_FIELD(DcT, alert_m, Bytes, 6),
    TRM27K_FIELD(DcT, alert_p_count, U8, 1), TRM27K_FIELD(DcT, alert_p, Bytes, 151),
    TRM27K_FIELD(DcT, ttime, Bytes, 7),
};
// The rectifier values are copied unchanged, so the group value and the
// module values keep the marker; the modules' analog values fill a
// not-provided value with 0.0, which cannot be told from a measured zero.
constexpr Field kRcRecord[] = {
    TRM27K_FIELD(RcT, id, U32, 1),          TRM27K_FIELD(RcT, ac_param, F32Array, 5),
    TRM27K_FIELD(RcT, dc_param, F32Array, 2), TRM27K_FIELD(RcT, dc_param_p, U8, 1),
    TRM27K_FIELD(RcT, dc_param_user, F32Array, 52), TRM27K_VALUE(RcT, group_value, F32, 1, "", Marker),
    TRM27K_FIELD(RcT, channel_count, U8, 1), TRM27K_FIELD(RcT, ttime, Bytes, 7),
};
constexpr Field kRcModule[] = {
    TRM27K_VALUE(RcC, module_value, F32, 1, "", Marker), TRM27K_FIELD(RcC, analog_p, U8, 1),
    TRM27K_FIELD(RcC, analog_user, F32Array, 13), TRM27K_FIELD(RcC, status, Bytes, 3),
    TRM27K_FIELD(RcC, status_p, U8, 1),     TRM27K_FIELD(RcC, status_user, Bytes, 16),
    TRM27K_FIELD(RcC, fault, U8, 1),        TRM27K_FIELD(RcC, alarm_p, U8, 1),
    TRM27K_FIELD(RcC, alarm_user, Bytes, 18),
};

#undef TRM27K_FIELD
#undef TRM27K_VALUE
#undef TRM27K_COUNTED

}  // namespace site

// The decoder's names for the same tables.
namespace decode {
using site::AcC;
using site::AcT;
using site::DcT;
using site::Field;
using site::Kind;
using site::RcC;
using site::RcT;
using site::kAcChannel;
using site::kAcScreen;
using site::kDcRecord;
using site::kRcModule;
using site::kRcRecord;
}  // namespace decode
