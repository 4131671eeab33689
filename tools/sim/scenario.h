#pragma once
// The state of a simulated TRM27K power system: everything its replies carry.
// Every variable group is a vector whose length is the count byte the reply
// announces, so a scenario can also send counts the driver does not expect;
// the defaults carry exactly the counts the driver's records hold.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A 4-byte analog value exactly as it goes on the line, least significant
// byte first. Kept as bytes so a scenario can also send the power system's
// "not provided" marker (four equal bytes).
struct Wire4 {
    std::array<uint8_t, 4> bytes{};

    static Wire4 Of(float value);
    static Wire4 Raw(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
        return {{{b0, b1, b2, b3}}};
    }
    float AsFloat() const;
    bool operator==(const Wire4& other) const { return bytes == other.bytes; }
};

// One AC input channel.
struct AcChannel {
    Wire4 a, b, c, f;  // line/phase voltages AB/A, BC/B, CA/C and frequency
    uint8_t aAlert = 0, bAlert = 0, cAlert = 0, fAlert = 0;  // 1 low, 2 high, 3 missing
    std::vector<Wire4> user;         // user-defined analog values (30 expected)
    std::vector<uint8_t> extra;      // extra item states in the alarm reply (none expected)
    std::vector<uint8_t> alarmUser;  // user-defined alarm bytes (18 expected)
};

// One AC distribution screen.
struct AcScreen {
    std::vector<AcChannel> channels;
    Wire4 ia, ib, ic;  // phase currents
    uint8_t iaAlert = 0, ibAlert = 0, icAlert = 0;
    std::vector<uint8_t> breakers;  // breaker states (this model has none)
    std::vector<uint8_t> status;    // status bytes (13 expected)
};

// One DC distribution screen.
struct DcScreen {
    Wire4 v, i;                      // DC bus voltage and load current
    // The m and n value groups (at most 6 kept each): battery currents (A,
    // positive while charging) and battery temperatures (°C).
    std::vector<Wire4> m, n;
    std::vector<Wire4> user;         // user-defined values (55 kept)
    uint8_t vAlarm = 0;              // 1 too low, 2 too high
    std::vector<uint8_t> fuses;      // fuse states, 3 a fault (6 expected)
    std::vector<uint8_t> alarmUser;  // user-defined alarm bytes (151 expected)
};

// One rectifier module.
struct RcModule {
    Wire4 value;                // the module's output current (A)
    std::vector<Wire4> analog;  // analog values (13 expected)
    std::array<uint8_t, 3> status{};
    std::vector<uint8_t> statusUser;  // user status bytes (16 expected)
    uint8_t fault = 0;                // 1 a module fault
    std::vector<uint8_t> alarmUser;   // alarm bytes (18 expected)
};

constexpr size_t kModelLength = 20;

struct Scenario {
    uint8_t address = 1;
    std::vector<uint8_t> silent;  // addresses that do not answer (a power system switched off)
    uint8_t version = 0x21;  // VER of every reply; commands must carry the same
    std::array<uint8_t, kModelLength> model{};
    // DATAFLAG of each group's replies: 0x10 asks for the status query, 0x01
    // for the alarm query.
    uint8_t acDataFlag = 0x11;
    uint8_t rcDataFlag = 0x11;
    uint8_t dcDataFlag = 0x11;
    std::vector<AcScreen> ac;
    std::vector<DcScreen> dc;
    Wire4 groupValue;  // the rectifier group's output voltage (V), ahead of the module count
    std::vector<RcModule> modules;
    std::array<Wire4, 5> acParam{};
    std::vector<Wire4> acParamExtra;  // further AC parameters, counted, not kept
    std::array<Wire4, 2> dcParam{};
    std::vector<Wire4> dcParamExtra;  // further DC parameters (67 expected)
    // Every analog reply moves the readings by a little noise (noise.h)
    // around the values above, instead of repeating them exactly.
    bool noise = false;
};

// The model text padded with zero bytes; longer texts are cut at 20 bytes.
std::array<uint8_t, kModelLength> ModelText(const std::string& text);

// The defaults that fill in a screen, channel or module a scenario adds; the
// index makes the values of neighbours differ a little, as on a real system.
AcChannel DefaultAcChannel(size_t index);
AcScreen DefaultAcScreen(size_t index);
DcScreen DefaultDcScreen(size_t index);
RcModule DefaultRcModule(size_t index);

// The monitor's built-in configuration: 2 AC screens of 3 channels (data ids
// 11 and 12 there), 2 DC screens (21 and 22), 4 rectifier modules, the model
// "TRM27K", plausible values and every alarm clear: the modules' currents
// add up to the DC loads plus the batteries' charge.
Scenario DefaultScenario();

// Largest INFO a frame carries: LENID has 12 bits of hex characters.
constexpr size_t kMaxInfoBytes = 4095 / 2;

// True when every reply of the scenario fits in one frame; otherwise false
// with a one-line reason naming the reply.
bool ValidateScenario(const Scenario& scenario, std::string& error);

}  // namespace sim
