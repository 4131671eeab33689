#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace monitor {

namespace {
// Whole decimal text in [low, high]; 64-bit, so the same on 32-bit ARM.
bool ToLong(const char* text, long long low, long long high, long long& out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

bool ParseQuery(const std::string& text, Query& out) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    long long id = 0;
    if (!ToLong(text.substr(0, colon).c_str(), 0, 0xFFFFFFFFLL, id)) return false;
    out.dataId = static_cast<unsigned int>(id);
    out.key = text.substr(colon + 1);
    return true;
}

// Options that take a value: name, and where the value goes.
struct TextOption {
    const char* name;
    std::string Options::*field;
};
constexpr TextOption kTextOptions[] = {
    {"--plugin", &Options::plugin},     {"--config", &Options::config},
    {"--port", &Options::port},         {"--history", &Options::history},
    {"--events", &Options::events},     {"--plugin-stdout", &Options::pluginStdout},
    {"--log-level", &Options::logLevel}, {"--sim-scenario", &Options::simScenario},
};

bool ParseNumber(const std::string& name, const char* value, Options& out) {
    long long v = 0;
    if (name == "--cycles" && ToLong(value, 0, 1LL << 40, v)) {
        out.cycles = v;
    } else if (name == "--timeout-first" && ToLong(value, 1, 600000, v)) {
        out.firstByteMs = static_cast<int>(v);
    } else if (name == "--timeout-gap" && ToLong(value, 1, 600000, v)) {
        out.gapMs = static_cast<int>(v);
    } else {
        return false;
    }
    return true;
}
}  // namespace

bool ParseOptions(int argc, char** argv, Options& out, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") { out.help = true; continue; }
        if (arg == "--fast") { out.fast = true; continue; }
        if (arg == "--quiet") { out.quiet = true; continue; }
        if (arg == "--full-poll") { out.fullPoll = true; continue; }
        if (i + 1 >= argc) {
            error = "unknown option or missing value: " + arg;
            return false;
        }
        const char* value = argv[++i];
        bool known = false;
        for (const TextOption& o : kTextOptions) {
            if (arg == o.name) { out.*o.field = value; known = true; }
        }
        if (known) continue;
        if (arg == "--query") {
            Query q;
            if (!ParseQuery(value, q)) { error = "--query wants ID:KEY, got " + std::string(value); return false; }
            out.queries.push_back(q);
        } else if (arg == "--cycles" || arg == "--timeout-first" || arg == "--timeout-gap") {
            if (!ParseNumber(arg, value, out)) { error = arg + " wants a number, got " + value; return false; }
        } else {
            error = "unknown option: " + arg;
            return false;
        }
    }
    static const char* kLevels[] = {"trace", "debug", "info", "warn", "error", "off"};
    bool levelKnown = false;
    for (const char* level : kLevels) levelKnown = levelKnown || out.logLevel == level;
    if (!levelKnown) { error = "--log-level wants trace, debug, info, warn, error or off"; return false; }
    return true;
}

const char* UsageText() {
    return "usage: trm27k-monitor [options]\n"
           "  --port PATH          poll a real serial device (default: the built-in simulator)\n"
           "  --config FILE        device configuration (JSON; default: built-in)\n"
           "  --plugin PATH        the plug-in (default: libtrm27k.so next to the program)\n"
           "  --cycles N           stop after N poll cycles (0: restore, answer queries, exit)\n"
           "  --query ID:KEY       answer Get_Value(0, KEY) of child ID after every cycle\n"
           "  --events FILE        JSON Lines event file\n"
           "  --history FILE       SQLite history (default: in memory)\n"
           "  --plugin-stdout FILE where the plug-in's own output lines go (default: stderr)\n"
           "  --log-level LEVEL    trace, debug, info, warn, error, off (default: info)\n"
           "  --timeout-first MS   reply timeout before its first byte (default 1000)\n"
           "  --timeout-gap MS     reply timeout between bytes (default 100)\n"
           "  --sim-scenario FILE  scenario of the built-in simulator\n"
           "  --fast               no pacing, no reply pause, short gate (tests)\n"
           "  --full-poll          query status and alarms every cycle\n"
           "  --quiet              no per-cycle summary\n";
}

}  // namespace monitor
