#pragma once
// The simulated power system on its side of the serial line: takes the bytes
// it receives, answers every valid command addressed to it with one reply
// frame, and applies the fault plan to the replies.
//
// Frames that fail their checks and frames for other addresses get no reply,
// as on a shared line. A command whose VER differs from the scenario's is
// answered with RTN 0x01 (VER error), an unknown command with RTN 0x04
// (CID2 invalid), both without INFO, as a device of this protocol family does.
//
// Thread-safe: the scenario may be replaced and the counters read from any
// thread while another feeds bytes.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "faults.h"
#include "pmbus_frame.h"
#include "scenario.h"

namespace sim {

constexpr uint8_t kRtnNormal = 0x00;
constexpr uint8_t kRtnVersionError = 0x01;

struct SimStats {
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;        // bytes of the replies handed to the line
    uint64_t badFrames = 0;        // frames that failed their checks (no reply)
    uint64_t otherAddress = 0;     // valid frames for another or a silent address (no reply)
    uint64_t commands = 0;         // valid commands addressed to the simulator
    uint64_t unknownCommands = 0;  // of those, commands it does not know
    uint64_t wrongVersion = 0;     // of those, commands with another VER
    uint64_t replies = 0;          // replies handed to the line
    uint64_t dropped = 0;          // faults applied, one counter per kind
    uint64_t corrupted = 0;
    uint64_t truncated = 0;
    uint64_t delayed = 0;
    uint64_t wrongRtn = 0;
    uint64_t wrongCount = 0;
    uint64_t duplicated = 0;
};

// The counters as one JSON object, keys as in the simulator's README.
std::string StatsJson(const SimStats& stats);

// One reply frame for the line, to be written `delayMs` after it was made.
struct OutgoingReply {
    std::string bytes;
    int delayMs = 0;
};

class Simulator {
public:
    // Starts with DefaultScenario().
    explicit Simulator(const FaultPlan& plan = FaultPlan());

    // Takes bytes received from the line; appends one entry to `replies` for
    // every reply they call for (none for a dropped one).
    void Feed(const uint8_t* data, size_t count, std::vector<OutgoingReply>& replies);

    // Replaces the scenario for the replies from now on; refuses (keeping the
    // current one) a scenario whose replies do not fit, with a reason.
    bool SetScenario(const Scenario& scenario, std::string& error);
    Scenario GetScenario() const;
    SimStats Stats() const;
    // The addresses the simulator answers, as several power systems on one
    // line would, each reply from the address asked; empty: the scenario's
    // "address" alone. The scenario's "silent" addresses never answer.
    void SetAddresses(std::vector<uint8_t> addresses);

private:
    void OnFrame(const char* body, size_t length, std::vector<OutgoingReply>& replies);
    bool Serves(uint8_t address) const;
    void Answer(std::vector<OutgoingReply>& replies);
    uint8_t BuildReplyInfo(const FaultChoice& faults);
    void Damage(const FaultChoice& faults);

    mutable std::mutex mutex_;
    Scenario scenario_;
    Scenario noisy_;              // the scenario as the reply in hand reads it, with noise
    std::mt19937 noiseRandom_{1};  // a fixed seed: runs repeat
    std::vector<uint8_t> addresses_;
    FaultInjector faults_;
    SimStats stats_;
    host::FrameReceiver receiver_;
    host::DecodedFrame command_;  // reused for every command
    std::vector<uint8_t> info_;   // reused for every reply
    std::string frame_;
};

}  // namespace sim
