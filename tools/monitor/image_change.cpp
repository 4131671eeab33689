#include "image_change.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "record_fields.h"

namespace monitor {

namespace {
using decode::Field;
using decode::Kind;

enum class Quantity { Ignored, Volts, Amperes };

// The analog values that take part in the change indication.
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

float FloatAt(const uint8_t* at) {
    float v;
    std::memcpy(&v, at, 4);
    return v;
}

// `thresholds` null: any difference outside the time stamp counts.
template <size_t N>
bool FieldsDiffer(const Field (&table)[N], int recordType, const uint8_t* a, const uint8_t* b,
                  const ChangeThresholds* thresholds) {
    for (const Field& f : table) {
        if (std::string_view(f.name) == "ttime") continue;
        const bool analog = f.kind == Kind::F32 || f.kind == Kind::F32Array;
        if (thresholds == nullptr || !analog) {
            if (std::memcmp(a + f.offset, b + f.offset, FieldBytes(f)) != 0) return true;
            continue;
        }
        const Quantity q = QuantityOf(recordType, f.name);
        if (q == Quantity::Ignored) continue;
        const float limit = q == Quantity::Volts ? thresholds->diffV : thresholds->diffI;
        const float before = FloatAt(a + f.offset), now = FloatAt(b + f.offset);
        // A value that is no number on one side changed when its bytes did.
        const bool numbers = std::isfinite(before) && std::isfinite(now);
        if (numbers ? std::fabs(now - before) >= limit
                    : std::memcmp(a + f.offset, b + f.offset, 4) != 0) {
            return true;
        }
    }
    return false;
}

// A header record and `count` channel records behind it.
template <size_t H, size_t C>
bool RecordsDiffer(const Field (&header)[H], size_t headerSize, const Field (&channel)[C],
                   size_t channelSize, int recordType, const uint8_t* a, const uint8_t* b,
                   size_t length, const ChangeThresholds* t) {
    if (length < headerSize || (length - headerSize) % channelSize != 0) {
        return std::memcmp(a, b, length) != 0;
    }
    if (FieldsDiffer(header, recordType, a, b, t)) return true;
    for (size_t at = headerSize; at < length; at += channelSize) {
        if (FieldsDiffer(channel, recordType, a + at, b + at, t)) return true;
    }
    return false;
}

bool Differ(int recordType, const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength,
            const ChangeThresholds* t) {
    if (aLength != bLength) return true;
    switch (recordType) {
        case 5175:
            return RecordsDiffer(decode::kAcScreen, sizeof(decode::AcT), decode::kAcChannel,
                                 sizeof(decode::AcC), recordType, a, b, aLength, t);
        case 5176:
            if (aLength != sizeof(decode::DcT)) return std::memcmp(a, b, aLength) != 0;
            return FieldsDiffer(decode::kDcRecord, recordType, a, b, t);
        case 5177:
            return RecordsDiffer(decode::kRcRecord, sizeof(decode::RcT), decode::kRcModule,
                                 sizeof(decode::RcC), recordType, a, b, aLength, t);
        default:
            return std::memcmp(a, b, aLength) != 0;
    }
}
}  // namespace

bool ImageChanged(int recordType, const uint8_t* before, size_t beforeLength, const uint8_t* now,
                  size_t nowLength, const ChangeThresholds& thresholds) {
    return Differ(recordType, before, beforeLength, now, nowLength, &thresholds);
}

bool ImageDiffers(int recordType, const uint8_t* before, size_t beforeLength, const uint8_t* now,
                  size_t nowLength) {
    return Differ(recordType, before, beforeLength, now, nowLength, nullptr);
}

}  // namespace monitor
