#pragma once
// When a child's data image is worth a history row: the change indication of
// the AC and DC children, done by the host on the images themselves, plus
// every state byte. An image counts as changed against the last stored one
// when its length differs, when any byte outside its time stamp and its
// analog values differs (counts, status and alarm bytes), when a voltage
// (AC a, b, c; DC v) moved by diff_v or more, or a current (AC ia, ib, ic;
// DC i) by diff_i or more. Other analog values (frequency, user values,
// rectifier values) take no part; the periodic row keeps them current.
#include <cstddef>
#include <cstdint>

namespace monitor {

struct ChangeThresholds {
    float diffV = 20.0f;  // the children's defaults
    float diffI = 20.0f;
};

bool ImageChanged(int recordType, const uint8_t* before, size_t beforeLength, const uint8_t* now,
                  size_t nowLength, const ChangeThresholds& thresholds);

// True when the two images differ in anything but their time stamp.
bool ImageDiffers(int recordType, const uint8_t* before, size_t beforeLength, const uint8_t* now,
                  size_t nowLength);

}  // namespace monitor
