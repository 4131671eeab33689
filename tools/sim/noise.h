#pragma once
// Measurement noise for a simulated site that is not perfectly still: every
// analog reply carries the scenario's values moved by a fresh random amount,
// as a real controller's readings wander from one poll to the next.
#include <random>

#include "scenario.h"

namespace sim {

// How far a reading wanders, by what it measures.
struct NoiseSpread {
    float acVolts = 1.0f;       // AC phase voltages, V either way
    float dcVolts = 0.15f;      // the DC bus and the rectifier outputs, V
    float currentShare = 0.02f; // every current, a share of its value
    float celsius = 0.3f;       // battery and module temperatures, °C
};

// Writes into `out` the values of `still` each moved by a uniform draw
// within its spread. Values that carry the "not provided" marker are left
// as they are. `out` is reused between calls, so a reply allocates nothing
// once its groups have their size.
void AddNoise(const Scenario& still, Scenario& out, std::mt19937& random,
              const NoiseSpread& spread = NoiseSpread());

}  // namespace sim
