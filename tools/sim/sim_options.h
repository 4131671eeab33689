#pragma once
// The command line of trm27k-sim.
#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"
#include "faults.h"

namespace sim {

struct SimOptions {
    bool pty = false;          // --pty: serve a new pseudo-terminal pair
    std::string port;          // --port PATH: serve a serial line
    std::string scenarioFile;  // --scenario FILE
    bool pace = false;         // --pace: replies at the 9600-baud byte rate
    FaultPlan faults;          // --seed and the fault options, percentages as 0 to 1
    std::string statsFile;     // --stats FILE: counters as JSON on exit
    std::vector<uint8_t> addresses;  // --address LIST: the addresses answered; empty: the scenario's
};

constexpr int kLineBaud = 9600;

// Parses argv[1..argc-1]. `run` false in the outcome: print its text and exit
// with its status (0 after --help or --version; 2 with a one-line reason for
// an unknown option, a missing or malformed value, or neither or both of
// --pty and --port). `out` is left alone unless the parse succeeds.
cli::Outcome ParseSimOptions(int argc, const char* const argv[], SimOptions& out);

}  // namespace sim
