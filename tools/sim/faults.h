#pragma once
// Fault injection for the simulated power system's replies. Every reply
// draws the same number of random values from one seeded generator, so the
// faults depend only on the seed and on how many replies came before: a
// given seed and command sequence always gives the same faults. (Duplicates
// draw only when planned, so older plans keep their sequences.)
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace sim {

// RTN the power system sends for a command it does not know (CID2 invalid);
// also the default RTN of the wrong-RTN fault.
constexpr uint8_t kRtnUnknownCommand = 0x04;

// Probabilities are per reply, from 0 (never) to 1 (every reply).
struct FaultPlan {
    uint32_t seed = 1;
    double drop = 0.0;      // no reply at all
    double corrupt = 0.0;   // one checksum character changed
    double truncate = 0.0;  // the frame cut short, with or without its CR
    double delay = 0.0;     // the reply held back by delayMs
    int delayMs = 0;
    double wrongRtn = 0.0;  // RTN wrongRtnCode and no INFO instead of the data
    uint8_t wrongRtnCode = kRtnUnknownCommand;
    double wrongCount = 0.0;  // the unit count byte one more or one less
    double duplicate = 0.0;   // the whole reply sent twice, back to back
};

// The faults drawn for one reply.
struct FaultChoice {
    bool drop = false;
    bool corrupt = false;
    bool truncate = false;
    bool delay = false;
    bool wrongRtn = false;
    bool wrongCount = false;
    bool duplicate = false;
    double cutAt = 0.0;  // how much of a truncated frame is kept, 0 to 1 (exclusive)
    bool cutKeepsCr = false;
    bool countUp = true;
    uint32_t corruptPick = 0;  // which checksum character changes, and to what
};

class FaultInjector {
public:
    explicit FaultInjector(const FaultPlan& plan) : plan_(plan), rng_(plan.seed) {}
    FaultChoice Next();
    const FaultPlan& Plan() const { return plan_; }

private:
    // [0, 1) from one 32-bit draw: mt19937's output is the same on every
    // platform, unlike the standard distributions'.
    double Uniform() { return rng_() / 4294967296.0; }

    FaultPlan plan_;
    std::mt19937 rng_;
};

// Changes one of the four checksum characters of an encoded frame to another
// hex digit, so the frame stays well-formed and fails only its checksum.
void CorruptChecksum(std::string& frame, uint32_t pick);
// Keeps at least the start character and drops at least one character before
// the CR; `keepCr` puts the CR back after the cut.
void TruncateFrame(std::string& frame, double cutAt, bool keepCr);
// Moves the count byte at `offset` one up (or down; from 0 always up, from
// 255 always down). False when the INFO has no byte there.
bool ShiftCount(std::vector<uint8_t>& info, int offset, bool up);

}  // namespace sim
