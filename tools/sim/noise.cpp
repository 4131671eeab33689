#include "noise.h"

#include <cmath>

namespace sim {

namespace {

bool IsMarker(const Wire4& w) {
    return w.bytes[0] == w.bytes[1] && w.bytes[1] == w.bytes[2] && w.bytes[2] == w.bytes[3];
}

class Jitter {
public:
    Jitter(std::mt19937& random, const NoiseSpread& spread) : random_(random), spread_(spread) {}

    void By(Wire4& w, float amount) {
        if (IsMarker(w)) return;
        std::uniform_real_distribution<float> draw(-amount, amount);
        Wire4 moved = Wire4::Of(w.AsFloat() + draw(random_));
        if (!IsMarker(moved)) w = moved;
    }
    void AcVolts(Wire4& w) { By(w, spread_.acVolts); }
    void DcVolts(Wire4& w) { By(w, spread_.dcVolts); }
    void Current(Wire4& w) { By(w, spread_.currentShare * std::abs(w.AsFloat())); }
    void Celsius(Wire4& w) { By(w, spread_.celsius); }

private:
    std::mt19937& random_;
    const NoiseSpread& spread_;
};

// Positions in a module's analog values (the simulator's defaults).
constexpr size_t kModuleVolts = 0;
constexpr size_t kModuleAmps = 1;
constexpr size_t kModuleCelsius = 2;
constexpr size_t kModuleInputVolts = 3;

void NoisyModule(RcModule& module, Jitter& jitter) {
    jitter.Current(module.value);
    if (module.analog.size() <= kModuleInputVolts) return;
    jitter.DcVolts(module.analog[kModuleVolts]);
    module.analog[kModuleAmps] = module.value;
    jitter.Celsius(module.analog[kModuleCelsius]);
    jitter.AcVolts(module.analog[kModuleInputVolts]);
}

}  // namespace

void AddNoise(const Scenario& still, Scenario& out, std::mt19937& random, const NoiseSpread& spread) {
    out = still;
    Jitter jitter(random, spread);
    for (AcScreen& screen : out.ac) {
        for (AcChannel& ch : screen.channels) {
            jitter.AcVolts(ch.a);
            jitter.AcVolts(ch.b);
            jitter.AcVolts(ch.c);
        }
        jitter.Current(screen.ia);
        jitter.Current(screen.ib);
        jitter.Current(screen.ic);
    }
    for (DcScreen& dc : out.dc) {
        jitter.DcVolts(dc.v);
        jitter.Current(dc.i);
        for (Wire4& battery : dc.m) jitter.Current(battery);
        for (Wire4& temperature : dc.n) jitter.Celsius(temperature);
    }
    jitter.DcVolts(out.groupValue);
    for (RcModule& module : out.modules) NoisyModule(module, jitter);
}

}  // namespace sim
