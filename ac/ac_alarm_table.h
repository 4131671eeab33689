#pragma once
// The AC alarm table. Channel rows are passed once per input channel, their
// detail being the channel prefix ("交流屏" and the channel's 1-based number)
// followed by the row's detail; screen rows are passed once per cycle. A row
// is active when its alarm state byte equals its value (1 too low, 2 too high,
// 3 missing). There is no row AC_11.
// Columns: level, key, code, name, detail (suffix for channel rows), state, value.
#include <array>
#include <cstdint>

namespace ac {

enum class ChannelState : uint8_t { A, B, C, F };
enum class PhaseState : uint8_t { IA, IB, IC };

template <class State>
struct AlarmRow {
    int level;
    const char* key;
    const char* code;
    const char* name;
    const char* detail;
    State state;
    uint8_t value;
};

constexpr const char* kChannelPrefix = "交流屏";

constexpr std::array<AlarmRow<ChannelState>, 11> kChannelAlarms = {{
    {3, "AC_0", "06015", "交流输入电压过低告警", "输入线/相电压AB/A", ChannelState::A, 1},
    {3, "AC_1", "06015", "交流输入电压过低告警", "输入线/相电压BC/B", ChannelState::B, 1},
    {3, "AC_2", "06015", "交流输入电压过低告警", "输入线/相电压CA/C", ChannelState::C, 1},
    {3, "AC_3", "06019", "交流输入频率过低告警", "频率", ChannelState::F, 1},
    {2, "AC_4", "06014", "交流输入电压过高告警", "输入线/相电压AB/A", ChannelState::A, 2},
    {2, "AC_5", "06014", "交流输入电压过高告警", "输入线/相电压BC/B", ChannelState::B, 2},
    {2, "AC_6", "06014", "交流输入电压过高告警", "输入线/相电压CA/C", ChannelState::C, 2},
    {2, "AC_7", "06018", "交流输入频率过高告警", "频率", ChannelState::F, 2},
    {2, "AC_8", "06017", "交流输入缺相告警", "输入线/相电压AB/A", ChannelState::A, 3},
    {2, "AC_9", "06017", "交流输入缺相告警", "输入线/相电压BC/B", ChannelState::B, 3},
    {2, "AC_10", "06017", "交流输入缺相告警", "输入线/相电压CA/C", ChannelState::C, 3},
}};

constexpr std::array<AlarmRow<PhaseState>, 9> kScreenAlarms = {{
    {3, "AC_12", "06029", "A相输入电流低于下限", "其他告警", PhaseState::IA, 1},
    {3, "AC_13", "06029", "B相输入电流低于下限", "其他告警", PhaseState::IB, 1},
    {3, "AC_14", "06029", "C相输入电流低于下限", "其他告警", PhaseState::IC, 1},
    {3, "AC_15", "06029", "A相输入电流高于上限", "其他告警", PhaseState::IA, 2},
    {3, "AC_16", "06029", "B相输入电流高于上限", "其他告警", PhaseState::IB, 2},
    {3, "AC_17", "06029", "C相输入电流高于上限", "其他告警", PhaseState::IC, 2},
    {3, "AC_18", "06029", "A相输入电流缺项", "其他告警", PhaseState::IA, 3},
    {3, "AC_19", "06029", "B相输入电流缺项", "其他告警", PhaseState::IB, 3},
    {3, "AC_20", "06029", "C相输入电流缺项", "其他告警", PhaseState::IC, 3},
}};

}  // namespace ac
