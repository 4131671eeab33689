#include "sim_options.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

// A whole decimal number from `text`, nothing before or after it.
bool ParseNumber(const std::string& text, double& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(out);
}

bool ParsePercent(const std::string& text, double& probability, std::string& error) {
    double percent = 0.0;
    if (!ParseNumber(text, percent) || percent < 0.0 || percent > 100.0) {
        error = "'" + text + "' is not a percentage from 0 to 100";
        return false;
    }
    probability = percent / 100.0;
    return true;
}

bool ParseWhole(const std::string& text, double max, double& out) {
    return text.find_first_not_of("0123456789") == std::string::npos && ParseNumber(text, out) &&
           out <= max;
}

bool SetSeed(SimOptions& o, const std::string& v, std::string& error) {
    double seed = 0;
    if (!ParseWhole(v, 4294967295.0, seed)) {
        error = "--seed wants a whole number from 0 to 4294967295, not '" + v + "'";
        return false;
    }
    o.faults.seed = static_cast<uint32_t>(seed);
    return true;
}

// --delay P:MS
bool SetDelay(SimOptions& o, const std::string& v, std::string& error) {
    const size_t colon = v.find(':');
    double ms = 0;
    if (colon == std::string::npos || !ParseWhole(v.substr(colon + 1), 600000, ms)) {
        error = "--delay wants P:MS (percent, then 0 to 600000 ms), not '" + v + "'";
        return false;
    }
    o.faults.delayMs = static_cast<int>(ms);
    return ParsePercent(v.substr(0, colon), o.faults.delay, error);
}

// One option: exactly one of the columns after the name is set. A flag
// takes no value; the others take the next argument.
struct OptionRow {
    const char* name;
    bool SimOptions::*flag;
    std::string SimOptions::*text;
    double FaultPlan::*percent;
    bool (*custom)(SimOptions&, const std::string& value, std::string& error);

    bool TakesValue() const { return flag == nullptr; }
};

constexpr OptionRow Flag(const char* name, bool SimOptions::*m) {
    return {name, m, nullptr, nullptr, nullptr};
}
constexpr OptionRow Text(const char* name, std::string SimOptions::*m) {
    return {name, nullptr, m, nullptr, nullptr};
}
constexpr OptionRow Percent(const char* name, double FaultPlan::*m) {
    return {name, nullptr, nullptr, m, nullptr};
}
constexpr OptionRow Custom(const char* name,
                           bool (*f)(SimOptions&, const std::string&, std::string&)) {
    return {name, nullptr, nullptr, nullptr, f};
}

// Every option, in the order --help lists them.
constexpr std::array<OptionRow, 14> kOptions = {{
    Flag("--pty", &SimOptions::pty),
    Text("--port", &SimOptions::port),
    Text("--scenario", &SimOptions::scenarioFile),
    Flag("--pace", &SimOptions::pace),
    Custom("--seed", &SetSeed),
    Percent("--drop", &FaultPlan::drop),
    Percent("--corrupt", &FaultPlan::corrupt),
    Percent("--truncate", &FaultPlan::truncate),
    Custom("--delay", &SetDelay),
    Percent("--wrong-rtn", &FaultPlan::wrongRtn),
    Percent("--wrong-count", &FaultPlan::wrongCount),
    Text("--stats", &SimOptions::statsFile),
    Flag("--help", &SimOptions::help),
    Flag("-h", &SimOptions::help),
}};

bool Apply(const OptionRow& row, SimOptions& o, const std::string& value, std::string& error) {
    if (row.flag != nullptr) {
        o.*row.flag = true;
    } else if (row.text != nullptr) {
        o.*row.text = value;
    } else if (row.percent != nullptr) {
        return ParsePercent(value, o.faults.*row.percent, error);
    } else {
        return row.custom(o, value, error);
    }
    return true;
}

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& row : kOptions) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

bool CheckLine(const SimOptions& o, std::string& error) {
    if (o.pty == !o.port.empty()) {
        error = o.pty ? "--pty and --port exclude each other" : "one of --pty or --port is needed";
        return false;
    }
    return true;
}

}  // namespace

bool ParseSimOptions(int argc, const char* const argv[], SimOptions& out, std::string& error) {
    SimOptions o;
    for (int k = 1; k < argc; ++k) {
        const std::string name = argv[k];
        const OptionRow* row = FindOption(name);
        if (row == nullptr) {
            error = "unknown option '" + name + "' (see --help)";
            return false;
        }
        if (row->TakesValue() && k + 1 >= argc) {
            error = name + " needs a value";
            return false;
        }
        const std::string value = row->TakesValue() ? argv[++k] : "";
        if (!Apply(*row, o, value, error)) return false;
    }
    if (!o.help && !CheckLine(o, error)) return false;
    out = o;
    return true;
}

const char* SimUsage() {
    return "Usage: trm27k-sim (--pty | --port PATH) [options]\n"
           "Simulates a TRM27K power system on a serial line.\n"
           "  --pty            open a pseudo-terminal pair; its slave path is the first\n"
           "                   line of standard output\n"
           "  --port PATH      serve the serial line PATH (9600 baud, 8N1)\n"
           "  --scenario FILE  JSON scenario over the defaults; reloaded when the file\n"
           "                   changes and on SIGHUP\n"
           "  --pace           send replies at the 9600-baud byte rate\n"
           "  --seed N         seed of the fault injection (default 1)\n"
           "  --drop P         P percent of replies are not sent\n"
           "  --corrupt P      P percent of replies get a wrong checksum\n"
           "  --truncate P     P percent of replies are cut short\n"
           "  --delay P:MS     P percent of replies are sent MS milliseconds late\n"
           "  --wrong-rtn P    P percent of replies carry RTN 0x04 and no data\n"
           "  --wrong-count P  P percent of replies announce one unit more or less\n"
           "  --stats FILE     write the counters as JSON to FILE on exit\n"
           "  --help           this text\n"
           "Exit status: 0 after SIGINT or SIGTERM, 1 when the line fails, 2 for bad\n"
           "arguments or a bad scenario.\n";
}

}  // namespace sim
