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

}  // namespace site
