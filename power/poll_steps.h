#pragma once
// The poll sequence: what each step sends, and where each accepted reply
// leads. A cycle walks the AC group, the rectifiers, the DC group and the two
// parameter queries; the device-model query comes once, first.
#include <array>
#include <cstdint>

namespace power {

enum class Info : uint8_t {
    Empty,              // no INFO
    CommandGroup,       // the one byte 0xFF
    CommandGroupIfV21,  // 0xFF when the protocol version byte is 0x21, else none
};

struct PollStep {
    int step;
    uint8_t cid1;
    uint8_t cid2;
    Info info;
};

constexpr int kModelStep = 14;
constexpr int kEndOfCycle = -1;

// Columns: step, CID1, CID2, INFO.
constexpr std::array<PollStep, 11> kPollSteps = {{
    {0, 0x40, 0x41, Info::CommandGroup},       // AC analog values
    {1, 0x40, 0x43, Info::CommandGroup},       // AC status
    {2, 0x40, 0x44, Info::CommandGroup},       // AC alarms
    {3, 0x40, 0x46, Info::Empty},              // AC parameters (to the rectifier child)
    {4, 0x41, 0x41, Info::Empty},              // rectifier analog values
    {5, 0x41, 0x43, Info::Empty},              // rectifier status
    {6, 0x41, 0x44, Info::Empty},              // rectifier alarms
    {7, 0x42, 0x41, Info::CommandGroupIfV21},  // DC analog values
    {8, 0x42, 0x44, Info::CommandGroupIfV21},  // DC alarms
    {9, 0x42, 0x46, Info::Empty},              // DC parameters (to the rectifier child)
    {kModelStep, 0x40, 0x51, Info::Empty},     // device model
}};

// The step's row, or nullptr for a value outside the table (10 to 13 and others).
constexpr const PollStep* FindStep(int step) {
    for (const PollStep& row : kPollSteps) {
        if (row.step == step) return &row;
    }
    return nullptr;
}

// What the transitions look at. `ready` is the main device's data-ready flag;
// the flags are the DATAFLAG bytes of the group's analog reply (0x10 asks for
// the status query, 0x01 for the alarm query).
struct PollState {
    bool ready;
    bool hasAc;
    bool hasDc;
    uint8_t acFlag;
    uint8_t rcFlag;
    uint8_t dcFlag;
};

// The step after an accepted reply at `from`, or kEndOfCycle.
int NextStep(int from, const PollState& s);

}  // namespace power
