#pragma once
// Whether a child's cycle counts as changed, the indication that decides when
// a state is reported by exception: the first image always; for AC and DC a
// voltage moved by at least diff_v or a current by at least diff_i since the
// previous image (the frequency takes no part); for the rectifier group any
// byte other than the time stamp.
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

bool CountsAsChanged(const Layout& layout, const std::vector<uint8_t>& previous,
                     const uint8_t* image, size_t length, const ChangeThresholds& limits);

}  // namespace site
