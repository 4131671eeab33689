#pragma once
// The DC alarms of every cycle, before the model's catalogue: the two voltage
// rows on v_alarm, then the fuse row, passed once per fuse state byte k (0 to
// 5) with the detail kFusePrefix + (k+1) + its detail, all six under one key.
// A row is active when its state byte equals its value. There is no DC_2.
// Columns: level, key, code, name, detail (suffix for the fuse row), value.
#include <array>
#include <cstdint>

namespace dc {

struct AlarmRow {
    int level;
    const char* key;
    const char* code;
    const char* name;
    const char* detail;
    uint8_t value;
};

constexpr std::array<AlarmRow, 2> kVoltageAlarms = {{
    {3, "DC_0", "06008", "输出电压过低告警", "输出电压过低告警", 1},
    {3, "DC_1", "06009", "输出电压过高告警", "输出电压过高告警", 2},
}};

constexpr const char* kFusePrefix = "直流";
constexpr AlarmRow kFuseAlarm = {1, "DC_3", "06001", "电池熔丝故障告警", "电池熔丝故障告警", 3};

}  // namespace dc
