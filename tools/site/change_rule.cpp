#include "change_rule.h"

#include <cmath>
#include <cstring>

#include "AppSetting.h"

namespace site {

namespace {
// Defaults the AC and DC children start from before their configuration.
constexpr ChangeThresholds kAcDefaults{20.0f, 20.0f};
constexpr ChangeThresholds kDcDefaults{0.1f, 20.0f};

// Changed when value `name` of the two records moved by `limit` or more; a
// value provided in only one of them counts as a change.
bool Moved(const Table& table, const char* name, const uint8_t* before, const uint8_t* after,
           float limit) {
    const Field* f = FindField(table, name);
    const std::optional<float> a = ReadFloat(*f, before);
    const std::optional<float> b = ReadFloat(*f, after);
    if (!a || !b) return a.has_value() != b.has_value();
    return std::fabs(*a - *b) >= limit;
}

bool AnyMoved(const Table& table, std::initializer_list<const char*> names, const uint8_t* before,
              const uint8_t* after, float limit) {
    for (const char* name : names) {
        if (Moved(table, name, before, after, limit)) return true;
    }
    return false;
}

bool RectifierChanged(const uint8_t* before, const uint8_t* after, size_t length) {
    constexpr size_t kStamp = offsetof(RcT, ttime);
    constexpr size_t kAfterStamp = kStamp + sizeof(RcT::ttime);
    return std::memcmp(before, after, kStamp) != 0 ||
           std::memcmp(before + kAfterStamp, after + kAfterStamp, length - kAfterStamp) != 0;
}
}  // namespace

ChangeThresholds ThresholdsOf(int recordType, const Json::Value& entry) {
    ChangeThresholds limits = recordType == 5176 ? kDcDefaults : kAcDefaults;
    try {
        child::ReadAppSetting(entry, limits.diffV, limits.diffI);
    } catch (const Json::Exception&) {
        // the plug-in refuses such an entry; the defaults stand
    }
    return limits;
}

bool CountsAsChanged(const Layout& layout, const std::vector<uint8_t>& previous,
                     const uint8_t* image, size_t length, const ChangeThresholds& limits) {
    const std::optional<size_t> count = ChannelCount(layout, image, length);
    if (!count || previous.size() != length) return true;
    const uint8_t* before = previous.data();
    switch (layout.type) {
        case 5175:
            if (AnyMoved(layout.header, {"ia", "ib", "ic"}, before, image, limits.diffI)) return true;
            for (size_t k = 0; k < *count; ++k) {
                const size_t at = layout.headerSize + layout.channelSize * k;
                if (AnyMoved(layout.channel, {"a", "b", "c"}, before + at, image + at, limits.diffV)) {
                    return true;
                }
            }
            return false;
        case 5176:
            return Moved(layout.header, "v", before, image, limits.diffV) ||
                   Moved(layout.header, "i", before, image, limits.diffI);
        default:
            return RectifierChanged(before, image, length);
    }
}

}  // namespace site
