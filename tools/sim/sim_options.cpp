#include "sim_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <algorithm>

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

std::string ParsePercent(const std::string& text, double& probability) {
    double percent = 0.0;
    if (!ParseNumber(text, percent) || percent < 0.0 || percent > 100.0) {
        return "'" + text + "' is not a percentage from 0 to 100";
    }
    probability = percent / 100.0;
    return "";
}

bool ParseWhole(const std::string& text, double max, double& out) {
    return text.find_first_not_of("0123456789") == std::string::npos && ParseNumber(text, out) &&
           out <= max;
}

std::string SetSeed(SimOptions& o, const std::string& v) {
    double seed = 0;
    if (!ParseWhole(v, 4294967295.0, seed)) {
        return "--seed wants a whole number from 0 to 4294967295, not '" + v + "'";
    }
    o.faults.seed = static_cast<uint32_t>(seed);
    return "";
}

// --delay P:MS
std::string SetDelay(SimOptions& o, const std::string& v) {
    const size_t colon = v.find(':');
    double ms = 0;
    if (colon == std::string::npos || !ParseWhole(v.substr(colon + 1), 600000, ms)) {
        return "--delay wants P:MS (percent, then 0 to 600000 ms), not '" + v + "'";
    }
    o.faults.delayMs = static_cast<int>(ms);
    return ParsePercent(v.substr(0, colon), o.faults.delay);
}

// --address 1,2 or 1-3: several power systems on one line.
std::string SetAddresses(SimOptions& o, const std::string& v) {
    const std::string refusal = "--address wants addresses from 0 to 255 as N, N,M or N-M, not '" + v + "'";
    std::vector<uint8_t> list;
    size_t from = 0;
    while (from <= v.size()) {
        const size_t comma = std::min(v.find(',', from), v.size());
        const std::string item = v.substr(from, comma - from);
        const size_t dash = item.find('-');
        double first = 0, last = 0;
        if (!ParseWhole(item.substr(0, dash), 255, first) ||
            !ParseWhole(dash == std::string::npos ? item : item.substr(dash + 1), 255, last) || last < first) {
            return refusal;
        }
        for (int a = static_cast<int>(first); a <= static_cast<int>(last); ++a) list.push_back(static_cast<uint8_t>(a));
        from = comma + 1;
    }
    o.addresses = std::move(list);
    return "";
}

// One option: exactly one of the columns after the help text is set. A flag
// takes no value; the others take one. A custom setter gives "" or the reason.
struct OptionRow {
    const char* name;
    const char* value;
    const char* help;
    bool SimOptions::*flag;
    std::string SimOptions::*text;
    double FaultPlan::*percent;
    std::string (*custom)(SimOptions&, const std::string& value);
};

constexpr OptionRow Flag(const char* name, const char* help, bool SimOptions::*m) {
    return {name, "", help, m, nullptr, nullptr, nullptr};
}
constexpr OptionRow Text(const char* name, const char* value, const char* help,
                         std::string SimOptions::*m) {
    return {name, value, help, nullptr, m, nullptr, nullptr};
}
constexpr OptionRow Percent(const char* name, const char* help, double FaultPlan::*m) {
    return {name, "P", help, nullptr, nullptr, m, nullptr};
}
constexpr OptionRow Custom(const char* name, const char* value, const char* help,
                           std::string (*f)(SimOptions&, const std::string&)) {
    return {name, value, help, nullptr, nullptr, nullptr, f};
}

// Every option, in the order --help lists them.
constexpr OptionRow kOptions[] = {
    Flag("--pty",
         "open a pseudo-terminal pair; its slave path is the first line of standard output",
         &SimOptions::pty),
    Text("--port", "PATH", "serve the serial line PATH (9600 baud, 8N1)", &SimOptions::port),
    Text("--scenario", "FILE",
         "JSON scenario over the defaults; reloaded when the file changes and on SIGHUP",
         &SimOptions::scenarioFile),
    Flag("--pace", "send replies at the 9600-baud byte rate", &SimOptions::pace),
    Custom("--seed", "N", "seed of the fault injection (default 1)", &SetSeed),
    Percent("--drop", "P percent of replies are not sent", &FaultPlan::drop),
    Percent("--corrupt", "P percent of replies get a wrong checksum", &FaultPlan::corrupt),
    Percent("--truncate", "P percent of replies are cut short", &FaultPlan::truncate),
    Custom("--delay", "P:MS", "P percent of replies are sent MS milliseconds late", &SetDelay),
    Percent("--wrong-rtn", "P percent of replies carry RTN 0x04 and no data", &FaultPlan::wrongRtn),
    Percent("--wrong-count", "P percent of replies announce one unit more or less",
            &FaultPlan::wrongCount),
    Percent("--duplicate", "P percent of replies are sent twice, back to back",
            &FaultPlan::duplicate),
    Custom("--address", "LIST", "answer these addresses (N,M or N-M), each as its own power system "
           "with the scenario's values (default: the scenario's \"address\")", &SetAddresses),
    Text("--stats", "FILE", "write the counters as JSON to FILE on exit", &SimOptions::statsFile),
};

// Registers one row; a malformed value is refused by the row's own check,
// which also stores the value.
void AddOption(CLI::App& app, const OptionRow& row, SimOptions& o) {
    if (row.flag != nullptr) {
        app.add_flag(row.name, o.*row.flag, row.help);
        return;
    }
    if (row.text != nullptr) {
        app.add_option(row.name, o.*row.text, row.help)->type_name(row.value);
        return;
    }
    const CLI::Validator setter(
        [&o, row](std::string& value) {
            return row.percent != nullptr ? ParsePercent(value, o.faults.*row.percent)
                                          : row.custom(o, value);
        },
        "");
    app.add_option(row.name, row.help)->type_name(row.value)->check(setter);
}

std::string CheckLine(const SimOptions& o) {
    if (o.pty == o.port.empty()) return "";
    return o.pty ? "--pty and --port exclude each other" : "one of --pty or --port is needed";
}

}  // namespace

cli::Outcome ParseSimOptions(int argc, const char* const argv[], SimOptions& out) {
    SimOptions o;
    CLI::App app("Simulates a TRM27K power system on a serial line.\n"
                 "Exit status: 0 after SIGINT or SIGTERM, 1 when the line fails, 2 for bad "
                 "arguments or a bad scenario.",
                 "trm27k-sim");
    cli::SetUp(app);
    for (const OptionRow& row : kOptions) AddOption(app, row, o);
    const cli::Outcome parsed = cli::Parse(app, argc, argv);
    if (!parsed.run) return parsed;
    const std::string error = CheckLine(o);
    if (!error.empty()) return cli::Refuse(error);
    out = o;
    return {};
}

}  // namespace sim
