#pragma once
// Runs a simulator on a serial line or pseudo-terminal: reads what arrives,
// feeds it to the simulator and writes its replies, each after its delay and
// in the order they were made, as one device answering one command at a time.
#include <atomic>
#include <functional>

#include "simulator.h"

namespace sim {

struct LoopOptions {
    int pacedBaud = 0;  // > 0: replies leave at that line's byte rate
    int pollMs = 50;    // longest wait for input; bounds how late `stop` is seen
    // Called on the loop's thread after every wake-up (the program reloads
    // its scenario file from here).
    std::function<void()> onWake;
};

enum class LoopEnd {
    Stopped,      // `stop` became true
    LineClosed,   // the descriptor hung up, reached its end or failed to read
    WriteFailed,  // a reply could not be written
};

// Serves `fd` until `stop` is set or the line ends. A reply being written
// when `stop` is set is cut off at its next chunk (about 0.1 s at 9600 baud).
LoopEnd RunSimulatorLoop(int fd, Simulator& sim, const LoopOptions& options,
                         const std::atomic<bool>& stop);

}  // namespace sim
