#pragma once
// The rectifier module rules. Every row is passed once per module, its detail
// being the module prefix ("模块" and the module's 1-based number) followed by
// the row's detail. A row is active when the byte it reads equals its active
// value exactly; any other value, another row's included, is inactive.
//
// The fault row is passed for every module at the end of each cycle; the
// catalogue only for modules whose alarm count byte announced all 18 alarm
// bytes. The catalogue's sequence numbers are irregular: only the first two
// rows advance the number, so rows 2 to 7 share one number with the first row
// of the next module.
//
// Columns: level, key, code, name, detail (after the prefix), byte read
// (the fault byte or one alarm byte), alarm byte index, active value,
// whether the rule sequence number advances after the row.
#include <array>
#include <cstddef>
#include <cstdint>

namespace rc {

enum class ModuleByte : uint8_t { Fault, Alarm };

struct ModuleRule {
    int level;
    const char* key;
    const char* code;
    const char* name;
    const char* detail;
    ModuleByte source;
    uint8_t index;
    uint8_t active;
    bool advances;
};

constexpr const char* kModulePrefix = "模块";

// clang-format off: one row per line
constexpr std::array<ModuleRule, 1> kModuleFault = {{
    {2, "RC_0", "06024", "整流模块故障告警", "整流模块故障告警", ModuleByte::Fault, 0, 1, true},
}};

constexpr std::array<ModuleRule, 8> kModuleAlarms = {{
    {4, "TRM27KAC_RC_0", "06028", "整流模块通信状态告警", "模块通讯中断告警状态", ModuleByte::Alarm,
     0, 0x80, true},
    {3, "TRM27KAC_RC_1", "06024", "整流模块故障告警", "模块故障告警状态", ModuleByte::Alarm, 1,
     0x81, true},
    {4, "TRM27KAC_RC_2", "06029", "不均流", "其他告警", ModuleByte::Alarm, 2, 0x82, false},
    {2, "TRM27KAC_RC_3", "06014", "交流输入电压过高告警", "交流输入电压超过阈值", ModuleByte::Alarm,
     3, 0x83, false},
    {2, "TRM27KAC_RC_4", "06015", "交流输入电压过低告警", "交流输入电压超过阈值", ModuleByte::Alarm,
     4, 0x84, false},
    {2, "TRM27KAC_RC_5", "06029", "交流不平衡", "其他告警", ModuleByte::Alarm, 5, 0x85, false},
    {2, "TRM27KAC_RC_6", "06017", "交流输入缺相告警", "交流输入缺相", ModuleByte::Alarm, 6, 0x86,
     false},
    {3, "TRM27KAC_RC_7", "06027", "整流模块温度过高告警", "模块过温告警状态", ModuleByte::Alarm, 7,
     0x87, false},
}};
// clang-format on

// True when every alarm row reads a byte inside an alarm area of `size` bytes.
template <size_t N>
constexpr bool ReadsInside(const std::array<ModuleRule, N>& rows, size_t size) {
    for (const ModuleRule& row : rows) {
        if (row.source == ModuleByte::Alarm && row.index >= size) return false;
    }
    return true;
}

}  // namespace rc
