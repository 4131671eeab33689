#pragma once
// One threshold rule as the host's threshold service receives it. Devices never
// build one themselves: CheckThresholdBool fills it from its arguments.
#include <cstdint>
#include <string>

struct rule_value {
    uint8_t level = 0;        // 1 (most severe) to 4
    std::string key;          // rule identifier within the device ("AC_0", "DC_3")
    std::string code;         // five-digit alarm code ("06008")
    int32_t active = 0;       // 1 when the condition holds in this cycle
    int32_t sequence = 0;     // position of the rule within its cycle
    std::string name;         // alarm text
    std::string detail;       // second alarm text, tells same-key rules apart
    uint32_t data_id = 0;     // data id of the device that passed the rule
};
