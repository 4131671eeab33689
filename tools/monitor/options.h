#pragma once
// Command line of trm27k-monitor.
#include <string>
#include <vector>

namespace monitor {

struct Query {
    unsigned int dataId = 0;
    std::string key;
};

struct Options {
    std::string plugin;          // empty: libtrm27k.so next to the program
    std::string config;          // empty: the built-in configuration
    std::string port;            // empty: the built-in simulator on a pseudo-terminal
    std::string history = ":memory:";
    std::string events;
    std::string pluginStdout = "-";  // "-": standard error
    std::string logLevel = "info";
    std::string simScenario;     // scenario file of the built-in simulator
    long long cycles = -1;       // -1: until SIGINT or SIGTERM
    std::vector<Query> queries;
    int firstByteMs = 1000;      // reply timeout before the first byte
    int gapMs = 100;             // reply timeout between two bytes
    bool fast = false;           // no pacing, no reply pause, a short gate (tests, soak)
    bool quiet = false;          // no per-cycle summary
    bool fullPoll = false;       // never mark the main device ready
    bool help = false;
};

// Parses argv; false with a one-line reason on a bad argument.
bool ParseOptions(int argc, char** argv, Options& out, std::string& error);
const char* UsageText();

}  // namespace monitor
