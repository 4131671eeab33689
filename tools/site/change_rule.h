#pragma once
// Whether a child's image counts as changed against the image of its last
// change: the one change rule of the monitor, which decides when MQTT
// reports a state by exception and when the history keeps a row.
//
// Changed: the first image; an image of another length or channel count;
// any byte outside the time stamp and the analog values (counts, status and
// alarm bytes); a voltage (AC a, b, c; DC v; the rectifier group's
// group_value) moved by diff_v or more, or a current (AC ia, ib, ic; DC i;
// a rectifier module's module_value) by diff_i or more, a value provided on
// one side only counting as moved. Other analog values (frequency,
// parameters, user values) take no part; the periodic reports keep them
// current.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include <json/json.h>

#include "record_values.h"

namespace site {

struct ChangeThresholds {
    float diffV;
    float diffI;
};

// The thresholds of one child from its configuration entry ("appSetting"
// with "diff_v" and "diff_i"), over the defaults of its device type.
ChangeThresholds ThresholdsOf(int recordType, const Json::Value& entry);

bool CountsAsChanged(const Layout& layout, const std::vector<uint8_t>& reference,
                     const uint8_t* image, size_t length, const ChangeThresholds& limits);

// For a value reported on its own (MQTT's per-value topics): how far field
// `field` of a record of `recordType` must move against the value last
// reported before it counts as changed. The voltages and currents the
// record rule watches take the child's diff_v and diff_i; the values it
// leaves out or takes on any change take the default of their kind
// (kValueDefaults); nothing for a field that is not a value of either.
std::optional<float> ValueThreshold(int recordType, std::string_view field, const ChangeThresholds& limits);
// Whether a value moved by `limit` or more. A value provided on one side
// only counts as moved; a value that is not finite, when its bits differ.
bool ValueMoved(std::optional<float> before, std::optional<float> after, float limit);

}  // namespace site
