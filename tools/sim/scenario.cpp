#include "scenario.h"

#include <algorithm>
#include <cstring>

#include "replies.h"

namespace sim {

Wire4 Wire4::Of(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    return Raw(static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
               static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24));
}

float Wire4::AsFloat() const {
    const uint32_t bits = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                          static_cast<uint32_t>(bytes[2]) << 16 |
                          static_cast<uint32_t>(bytes[3]) << 24;
    float value = 0.0f;
    std::memcpy(&value, &bits, 4);
    return value;
}

std::array<uint8_t, kModelLength> ModelText(const std::string& text) {
    std::array<uint8_t, kModelLength> model{};
    std::memcpy(model.data(), text.data(), std::min(text.size(), model.size()));
    return model;
}

namespace {

std::vector<Wire4> Values(size_t count, float first, float step) {
    std::vector<Wire4> out;
    for (size_t k = 0; k < count; ++k) out.push_back(Wire4::Of(first + step * k));
    return out;
}

float Spread(size_t index, float step) {
    return step * static_cast<float>(index);
}

// A module's analog values: output voltage and current, temperature, input
// voltage and frequency, output power, efficiency, limits and set points.
// None has four equal bytes, which would read as "not provided".
constexpr std::array<float, 13> kModuleAnalog = {53.5f, 25.0f, 36.0f, 229.5f, 50.0f, 1337.5f, 95.2f,
                                                 57.6f, 50.0f, 43.2f, 53.5f,  2.5f,  1.5f};
constexpr size_t kOutputCurrent = 1;  // in kModuleAnalog
constexpr size_t kOutputPower = 5;

// The modules' output currents carry the DC loads and the batteries' charge
// (positive battery current: charging), shared evenly with a small spread
// that sums to nothing, as a real group shares within a few tenths.
void ShareLoad(Scenario& s) {
    float total = 0.0f;
    for (const DcScreen& dc : s.dc) {
        total += dc.i.AsFloat();
        for (const Wire4& battery : dc.m) total += battery.AsFloat();
    }
    const float share = total / static_cast<float>(s.modules.size());
    for (size_t k = 0; k < s.modules.size(); ++k) {
        const bool last = k + 1 == s.modules.size() && s.modules.size() % 2 == 1;
        const float amps = share + (last ? 0.0f : (k % 2 == 0 ? 0.2f : -0.2f));
        RcModule& module = s.modules[k];
        module.value = Wire4::Of(amps);
        module.analog[kOutputCurrent] = module.value;
        module.analog[kOutputPower] = Wire4::Of(amps * kModuleAnalog[0]);
    }
}

}  // namespace

AcChannel DefaultAcChannel(size_t index) {
    AcChannel ch;
    ch.a = Wire4::Of(230.1f + Spread(index, 0.3f));
    ch.b = Wire4::Of(229.6f + Spread(index, 0.2f));
    ch.c = Wire4::Of(231.0f - Spread(index, 0.2f));
    ch.f = Wire4::Of(50.0f);
    ch.user = Values(30, 0.0f, 0.0f);
    ch.alarmUser.assign(18, 0);
    return ch;
}

AcScreen DefaultAcScreen(size_t index) {
    AcScreen screen;
    for (size_t k = 0; k < 3; ++k) screen.channels.push_back(DefaultAcChannel(3 * index + k));
    screen.ia = Wire4::Of(12.5f + Spread(index, 1.0f));
    screen.ib = Wire4::Of(13.1f + Spread(index, 1.0f));
    screen.ic = Wire4::Of(12.8f + Spread(index, 1.0f));
    screen.status.assign(13, 0);
    return screen;
}

DcScreen DefaultDcScreen(size_t index) {
    DcScreen screen;
    screen.v = Wire4::Of(53.5f - Spread(index, 0.1f));
    screen.i = Wire4::Of(42.0f - Spread(index, 3.5f));
    screen.m = Values(2, 5.2f - Spread(index, 0.3f), -0.3f);  // battery currents, A (charging)
    screen.n = Values(2, 25.0f + Spread(index, 0.5f), 0.5f);  // battery temperatures, °C
    screen.user = Values(55, 0.0f, 0.0f);
    screen.fuses.assign(6, 0);
    screen.alarmUser.assign(151, 0);
    return screen;
}

RcModule DefaultRcModule(size_t index) {
    RcModule module;
    for (float v : kModuleAnalog) module.analog.push_back(Wire4::Of(v));
    module.analog[kOutputCurrent] = Wire4::Of(kModuleAnalog[kOutputCurrent] + Spread(index, 0.2f));
    module.value = module.analog[kOutputCurrent];  // the module's output current
    module.statusUser.assign(16, 0);
    module.alarmUser.assign(18, 0);
    return module;
}

Scenario DefaultScenario() {
    Scenario s;
    s.model = ModelText("TRM27K");
    for (size_t k = 0; k < 2; ++k) s.ac.push_back(DefaultAcScreen(k));
    for (size_t k = 0; k < 2; ++k) s.dc.push_back(DefaultDcScreen(k));
    s.groupValue = Wire4::Of(53.5f);  // the group's output voltage
    for (size_t k = 0; k < 4; ++k) s.modules.push_back(DefaultRcModule(k));
    ShareLoad(s);
    // Voltage limits, frequency limits and the current limit of the AC input.
    s.acParam = {Wire4::Of(280.0f), Wire4::Of(170.0f), Wire4::Of(55.0f), Wire4::Of(45.0f),
                 Wire4::Of(100.0f)};
    s.dcParam = {Wire4::Of(57.6f), Wire4::Of(45.0f)};  // DC voltage limits
    s.dcParamExtra = Values(67, 42.0f, 0.25f);
    return s;
}

bool ValidateScenario(const Scenario& scenario, std::string& error) {
    std::vector<uint8_t> info;
    for (const CommandRow& row : kCommands) {
        bool clamped = false;
        BuildInfo(scenario, row.cid1, row.cid2, info, &clamped);
        if (clamped) {
            error = std::string("the ") + row.name + " reply has a group of more than 255 items";
            return false;
        }
        if (info.size() > kMaxInfoBytes) {
            error = std::string("the ") + row.name + " reply needs " + std::to_string(info.size()) +
                    " INFO bytes, a frame holds at most " + std::to_string(kMaxInfoBytes);
            return false;
        }
    }
    return true;
}

}  // namespace sim
