#include "change_rule.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "AppSetting.h"

namespace site {

namespace {
// Defaults the AC and DC children start from before their configuration.
constexpr ChangeThresholds kAcDefaults{20.0f, 20.0f};
constexpr ChangeThresholds kDcDefaults{0.1f, 20.0f};
// The rectifier group has no thresholds of its own in its configuration. Its
// output voltage is the DC bus, which the DC screens already judge by their
// diff_v; the group's copy counts from half a volt, a module's output
// current from 2 A.
constexpr ChangeThresholds kRcDefaults{0.5f, 2.0f};

enum class Quantity { Ignored, Volts, Amperes };

// The AC and DC values that take part in the change indication.
struct Watched {
    int recordType;
    std::string_view field;
    Quantity quantity;
};
constexpr Watched kWatched[] = {
    {5175, "a", Quantity::Volts},    {5175, "b", Quantity::Volts},
    {5175, "c", Quantity::Volts},    {5175, "ia", Quantity::Amperes},
    {5175, "ib", Quantity::Amperes}, {5175, "ic", Quantity::Amperes},
    {5176, "v", Quantity::Volts},    {5176, "i", Quantity::Amperes},
    {5177, "group_value", Quantity::Volts}, {5177, "module_value", Quantity::Amperes},
};

// The values the record rule leaves out (AC frequency, battery values), when
// each is reported on its own: moved by this much, in the field's unit.
struct ValueDefault {
    int recordType;
    std::string_view field;
    float limit;
};
constexpr ValueDefault kValueDefaults[] = {
    {5175, "f", 0.1f},             // AC frequency, Hz
    {5176, "m_values", 1.0f},      // battery current, A
    {5176, "n_values", 1.0f},      // battery temperature, °C
};

Quantity QuantityOf(int recordType, std::string_view field) {
    for (const Watched& w : kWatched) {
        if (w.recordType == recordType && w.field == field) return w.quantity;
    }
    return Quantity::Ignored;
}

size_t FieldBytes(const Field& f) {
    switch (f.kind) {
        case Kind::U8: return 1;
        case Kind::U32:
        case Kind::F32: return 4;
        case Kind::F32Array: return 4 * f.count;
        case Kind::Bytes: return f.count;
    }
    return 0;
}

bool BytesDiffer(const Field& f, const uint8_t* before, const uint8_t* after) {
    return std::memcmp(before + f.offset, after + f.offset, FieldBytes(f)) != 0;
}

bool Moved(const Field& f, const uint8_t* before, const uint8_t* after, float limit) {
    return ValueMoved(ReadFloat(f, before), ReadFloat(f, after), limit);
}

bool FieldChanged(int recordType, const Field& f, const uint8_t* before, const uint8_t* after,
                  const ChangeThresholds& limits) {
    if (std::string_view(f.name) == "ttime") return false;
    const bool analog = f.kind == Kind::F32 || f.kind == Kind::F32Array;
    if (!analog) return BytesDiffer(f, before, after);
    switch (QuantityOf(recordType, f.name)) {
        case Quantity::Volts: return Moved(f, before, after, limits.diffV);
        case Quantity::Amperes: return Moved(f, before, after, limits.diffI);
        case Quantity::Ignored: break;
    }
    return false;
}

bool RecordChanged(int recordType, const Table& table, const uint8_t* before, const uint8_t* after,
                   const ChangeThresholds& limits) {
    for (const Field* f = table.rows; f != table.rows + table.size; ++f) {
        if (FieldChanged(recordType, *f, before, after, limits)) return true;
    }
    return false;
}
}  // namespace

ChangeThresholds ThresholdsOf(int recordType, const Json::Value& entry) {
    ChangeThresholds limits = recordType == 5176 ? kDcDefaults : recordType == 5177 ? kRcDefaults : kAcDefaults;
    try {
        child::ReadAppSetting(entry, limits.diffV, limits.diffI);
    } catch (const Json::Exception&) {
        // the plug-in refuses such an entry; the defaults stand
    }
    return limits;
}

std::optional<float> ValueThreshold(int recordType, std::string_view field, const ChangeThresholds& limits) {
    switch (QuantityOf(recordType, field)) {
        case Quantity::Volts: return limits.diffV;
        case Quantity::Amperes: return limits.diffI;
        case Quantity::Ignored: break;
    }
    for (const ValueDefault& d : kValueDefaults) {
        if (d.recordType == recordType && d.field == field) return d.limit;
    }
    return std::nullopt;
}

bool ValueMoved(std::optional<float> before, std::optional<float> after, float limit) {
    if (!before || !after) return before.has_value() != after.has_value();
    if (!std::isfinite(*before) || !std::isfinite(*after)) {
        return std::memcmp(&*before, &*after, sizeof(float)) != 0;
    }
    return std::fabs(*before - *after) >= limit;
}

bool CountsAsChanged(const Layout& layout, const std::vector<uint8_t>& reference,
                     const uint8_t* image, size_t length, const ChangeThresholds& limits) {
    const std::optional<size_t> count = ChannelCount(layout, image, length);
    if (!count || reference.size() != length) return true;
    const uint8_t* before = reference.data();
    if (RecordChanged(layout.type, layout.header, before, image, limits)) return true;
    for (size_t k = 0; k < *count; ++k) {
        const size_t at = layout.headerSize + layout.channelSize * k;
        if (RecordChanged(layout.type, layout.channel, before + at, image + at, limits)) return true;
    }
    return false;
}

}  // namespace site
