#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <tuple>
#include <variant>

#include "builtin_config.h"
#include "config_file.h"
#include "http_server.h"
#include "mqtt_settings.h"

namespace monitor {

namespace {
// "" when a text is fine, else why it is refused.
using Check = std::string (*)(const std::string&);

std::string NonEmptyPath(const std::string& text) {
    return text.empty() ? "wants a path, not an empty text" : "";
}

std::string LogLevel(const std::string& text) {
    for (const char* level : {"trace", "debug", "info", "warn", "error", "off"}) {
        if (text == level) return "";
    }
    return "wants trace, debug, info, warn, error or off, not '" + text + "'";
}

std::string AllOrChanges(const std::string& text) {
    return text == "all" || text == "changes" ? "" : "wants all or changes, not '" + text + "'";
}

// The kinds of event the event file holds.
std::string EventKind(const std::string& text) {
    for (const char* kind : {"command", "record", "rules", "alarm", "history", "value", "log",
                             "frame_error", "timeout", "cycle", "storage", "link", "stalled", "mqtt", "snmp"}) {
        if (text == kind) return "";
    }
    return "'" + text + "' is no kind of event";
}

bool ParseQuery(const std::string& text, Query& out) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    const std::string id = text.substr(0, colon);
    if (id.find_first_not_of("0123456789") != std::string::npos || id.size() > 10) return false;
    const unsigned long long value = std::strtoull(id.c_str(), nullptr, 10);
    if (value > 0xFFFFFFFFULL) return false;
    out.dataId = static_cast<unsigned int>(value);
    out.key = text.substr(colon + 1);
    return true;
}

// "N" or "N-M" within [low, high], N not above M.
bool ParseRange(const std::string& text, long long low, long long high, long long& first, long long& last) {
    const size_t dash = text.find('-');
    const std::string a = text.substr(0, dash), b = dash == std::string::npos ? a : text.substr(dash + 1);
    const auto whole = [](const std::string& t) {
        return !t.empty() && t.size() <= 6 && t.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!whole(a) || !whole(b)) return false;
    first = std::atoll(a.c_str());
    last = std::atoll(b.c_str());
    return low <= first && first <= last && last <= high;
}

std::string Broker(const std::string& text) {
    mqtt::MqttSettings s;
    return mqtt::ParseBroker(text, s) ? "" : "wants HOST or HOST:PORT, not '" + text + "'";
}

std::string Listen(const std::string& text) {
    http::HttpSettings s;
    return http::ParseListen(text, s) ? "" : "wants ADDR:PORT or :PORT, not '" + text + "'";
}

// A basic-auth user: the colon separates user from password.
std::string AuthUser(const std::string& text) {
    return text.empty() || text.find(':') != std::string::npos ? "wants a name without ':', not '" + text + "'"
                                                              : "";
}

std::string PasswordHash(const std::string& text) { return http::PasswordHashProblem(text); }

// One level of an MQTT topic: not empty, no '/' and no wildcard.
std::string TopicLevel(const std::string& text) {
    return text.empty() || text.find_first_of("/+#") != std::string::npos
               ? "wants a name without '/', '+' or '#', not '" + text + "'"
               : "";
}

// A topic prefix: levels may be separated by '/', no wildcard.
std::string TopicPrefix(const std::string& text) {
    return text.empty() || text.find_first_of("+#") != std::string::npos || text.front() == '/' ||
                   text.back() == '/'
               ? "wants a topic without '+' or '#' and no '/' at either end, not '" + text + "'"
               : "";
}

std::string AnyText(const std::string&) { return ""; }

std::string Command(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos ? "wants a command, not an empty text" : "";
}

std::string QueryText(const std::string& text) {
    Query q;
    return ParseQuery(text, q) ? "" : "wants ID:KEY, not '" + text + "'";
}

// Where an option's value goes: a text, a flag, a whole number, the queries
// or a list of texts (comma-separated on the command line, an array in the
// configuration).
using Field = std::variant<std::string Options::*, bool Options::*, long long Options::*,
                           std::vector<Query> Options::*, std::vector<std::string> Options::*,
                           std::vector<long long> Options::*>;

// One option. `name` is --NAME on the command line and "NAME" in the
// "monitor" object, unless `commandLineOnly`.
struct OptionRow {
    const char* name;
    const char* value;  // the value's name in --help; empty for a flag
    const char* help;
    Field field;
    Check check;               // texts and queries
    long long low, high;       // whole numbers: the accepted range
    bool commandLineOnly;
};

constexpr OptionRow Text(const char* name, const char* value, const char* help,
                         std::string Options::*field, Check check = NonEmptyPath) {
    return {name, value, help, field, check, 0, 0, false};
}
constexpr OptionRow Number(const char* name, const char* help, long long Options::*field,
                           long long low, long long high) {
    return {name, "N", help, field, nullptr, low, high, false};
}
constexpr OptionRow Flag(const char* name, const char* help, bool Options::*field) {
    return {name, "", help, field, nullptr, 0, 0, false};
}

// Every option of the monitor, in the order --help lists them. To add one,
// add its member to Options and its row here: the command line and the
// "monitor" object of the configuration file both take it from this row.
const OptionRow kOptions[] = {
    Text("port", "PATH", "poll a real serial device (default: the built-in simulator)",
         &Options::port),
    {"config", "FILE",
     "device configuration (JSON; default: built-in); its \"monitor\" object may hold any other "
     "option by its long name",
     &Options::config, NonEmptyPath, 0, 0, true},
    Text("plugin", "PATH", "the plug-in (default: libtrm27k.so next to the program)",
         &Options::plugin),
    Number("cycles", "stop after N poll cycles (0: restore, answer queries, exit)",
           &Options::cycles, 0, 1LL << 40),
    {"query", "ID:KEY", "answer Get_Value(0, KEY) of child ID after every cycle (repeatable)",
     &Options::queries, QueryText, 0, 0, false},
    Text("events", "FILE", "JSON Lines event file", &Options::events),
    Text("history", "FILE", "SQLite history (default: none: no trends, nothing kept)", &Options::history),
    Text("plugin-stdout", "FILE", "where the plug-in's own output lines go (default: stderr)",
         &Options::pluginStdout),
    Text("log-level", "LEVEL", "trace, debug, info, warn, error, off (default: info)",
         &Options::logLevel, LogLevel),
    Number("timeout-first", "reply timeout before its first byte, ms (default 1000)",
           &Options::firstByteMs, 1, 600000),
    Number("timeout-gap", "reply timeout between bytes, ms (default 100)", &Options::gapMs, 1,
           600000),
    Text("sim-scenario", "FILE", "scenario of the built-in simulator", &Options::simScenario),
    Flag("fast", "no pacing, no reply pause, short gate (tests)", &Options::fast),
    Flag("full-poll", "query status and alarms every cycle", &Options::fullPoll),
    Flag("quiet", "no per-cycle summary", &Options::quiet),
    Number("retain-days", "history rows older than N days are deleted, a few at a time "
           "(default 30; 0: kept)", &Options::retainDays, 0, 36500),
    Text("history-rows", "WHICH", "all: a history row per image and cycle (default); changes: "
         "only images that changed (diff_v, diff_i, state bytes), and one per child every 5 "
         "minutes", &Options::historyRows, AllOrChanges),
    Number("history-commit", "write the history every N cycles, an alarm change at once "
           "(default 1); a power cut loses at most the last N cycles", &Options::historyCommit,
           1, 1000),
    Number("events-max-mb", "rotate the event file before it passes N MiB (default 16; 0: "
           "never)", &Options::eventsMaxMb, 0, 1 << 20),
    Number("events-keep", "rotated event files kept, FILE.1 the newest (default 4)",
           &Options::eventsKeep, 0, 1000),
    Text("events-rules", "WHICH", "all: every rules batch (default); changes: only batches in "
         "which a rule changed state", &Options::eventsRules, AllOrChanges),
    {"events-omit", "KIND,...", "event kinds left out of the event file (e.g. command,record)",
     &Options::eventsOmit, EventKind, 0, 0, false},
    Text("site", "NAME", "the site's name in MQTT topics, metric labels and the API (default site)",
         &Options::site, TopicLevel),
    Text("http", "ADDR:PORT", "serve the status page, /metrics and the JSON API here (:PORT: "
         "loopback)", &Options::http, Listen),
    Text("http-user", "USER", "ask HTTP clients for this user and its password (basic "
         "authentication, every path)", &Options::httpUser, AuthUser),
    Text("http-password-hash", "HASH", "crypt(3) hash of the --http-user's password, as mkpasswd "
         "makes it (never the password itself)", &Options::httpPasswordHash, PasswordHash),
    Text("mqtt", "HOST[:PORT]", "publish to this MQTT broker (port 1883 by default)", &Options::mqtt,
         Broker),
    Text("mqtt-client-id", "ID", "MQTT client id (default trm27k-SITE)", &Options::mqttClientId,
         AnyText),
    Text("mqtt-user", "USER", "MQTT user name", &Options::mqttUser, AnyText),
    Text("mqtt-password-file", "FILE", "file whose first line is the MQTT password",
         &Options::mqttPasswordFile),
    Text("mqtt-ca", "FILE", "CA certificate file: connect with TLS", &Options::mqttCa),
    Text("mqtt-prefix", "PREFIX", "first levels of every topic (default trm27k)",
         &Options::mqttPrefix, TopicPrefix),
    Text("mqtt-discovery-prefix", "PREFIX", "Home Assistant discovery prefix (default homeassistant)",
         &Options::mqttDiscoveryPrefix, TopicPrefix),
    Flag("no-mqtt-discovery", "no Home Assistant discovery", &Options::noMqttDiscovery),
    Number("mqtt-refresh", "each child's values in one message (DATA_ID/values) every N seconds "
           "(default 3600; 0: never)", &Options::mqttRefresh, 0, 7 * 86400),
    Number("mqtt-keepalive", "seconds without traffic before the MQTT client pings the broker (default 30)",
           &Options::mqttKeepalive, 5, 65535),
    Flag("mqtt-state-json", "also each child's whole record as JSON on DATA_ID/state", &Options::mqttStateJson),
    Number("mqtt-heartbeat", "with --mqtt-state-json, a child's state at least every N seconds (default 60)",
           &Options::mqttHeartbeat, 0, 86400),
    Number("outbox-max-mb", "MQTT messages kept for the broker at most, MiB (default 50)",
           &Options::outboxMaxMb, 1, 1 << 20),
    Text("snmp-agentx", "SOCKET", "join the system's snmpd as an AgentX subagent at this socket (a "
         "path, or tcp:HOST:PORT)", &Options::snmpAgentx, NonEmptyPath),
    {"scan", "",
     "list the serial ports and ask each for the device model, then exit (0: a device "
     "answered); only --port if given, else only USB and platform ports",
     &Options::scan, nullptr, 0, 0, true},
    {"address", "N", "the address --scan asks, or a range N-M (repeatable; default 1)", &Options::addresses,
     nullptr, 0, 255, true},
    Flag("exit-on-loss", "exit with status 1 when the line is lost, instead of reopening it",
         &Options::exitOnLoss),
    Text("on-alarm", "COMMAND", "run COMMAND (by /bin/sh) on every alarm raise and clear and on link "
         "loss and return, the facts in TRM27K_* environment variables", &Options::onAlarm, Command),
    Number("on-alarm-jobs", "--on-alarm commands running at once at most (default 2)",
           &Options::onAlarmJobs, 1, 64),
    Number("on-alarm-timeout", "seconds an --on-alarm command may run before it is stopped (default 30)",
           &Options::onAlarmTimeout, 1, 86400),
    Flag("syslog", "alarm raises and clears, link changes and storage failures also to syslog, "
         "with priorities by alarm level", &Options::syslog),
};

std::string LongName(const OptionRow& row) { return std::string("--") + row.name; }

CLI::Validator ValidatorOf(Check check) {
    return CLI::Validator([check](std::string& text) { return check(text); }, "");
}

// Registers one row with CLI11; the value lands straight in `o`.
void AddToCommandLine(CLI::App& app, const OptionRow& row, Options& o) {
    const std::string name = LongName(row);
    struct Visitor {
        CLI::App& app;
        const OptionRow& row;
        Options& o;
        const std::string& name;
        void operator()(std::string Options::*m) const {
            app.add_option(name, o.*m, row.help)->type_name(row.value)->check(ValidatorOf(row.check));
        }
        void operator()(bool Options::*m) const { app.add_flag(name, o.*m, row.help); }
        void operator()(long long Options::*m) const {
            app.add_option(name, o.*m, row.help)->type_name(row.value)->check(
                CLI::Range(row.low, row.high));
        }
        // N, or a range N-M (both ends included).
        void operator()(std::vector<long long> Options::*m) const {
            Options& target = o;
            const long long low = row.low, high = row.high;
            app.add_option_function<std::vector<std::string>>(
                   name,
                   [&target, m, low, high](const std::vector<std::string>& texts) {
                       for (const std::string& text : texts) {
                           long long first = 0, last = 0;
                           ParseRange(text, low, high, first, last);
                           for (long long k = first; k <= last; ++k) (target.*m).push_back(k);
                       }
                   },
                   row.help)
                ->type_name(row.value)
                ->allow_extra_args(false)
                ->check(CLI::Validator(
                    [low, high](std::string& text) {
                        long long first = 0, last = 0;
                        return ParseRange(text, low, high, first, last)
                                   ? std::string()
                                   : "wants N or N-M from " + std::to_string(low) + " to " + std::to_string(high) +
                                         ", not '" + text + "'";
                    },
                    ""));
        }
        void operator()(std::vector<Query> Options::*m) const {
            Options& target = o;
            app.add_option_function<std::vector<std::string>>(
                   name,
                   [&target, m](const std::vector<std::string>& texts) {
                       for (const std::string& text : texts) {
                           Query q;
                           ParseQuery(text, q);
                           (target.*m).push_back(q);
                       }
                   },
                   row.help)
                ->type_name(row.value)
                ->allow_extra_args(false)
                ->check(ValidatorOf(row.check));
        }
        void operator()(std::vector<std::string> Options::*m) const {
            app.add_option(name, o.*m, row.help)
                ->type_name(row.value)
                ->delimiter(',')
                ->allow_extra_args(false)
                ->check(ValidatorOf(row.check));
        }
    };
    std::visit(Visitor{app, row, o, name}, row.field);
}

// Takes one key of the "monitor" object into `o`; false naming why not.
bool ApplyKey(const OptionRow& row, const Json::Value& v, Options& o, std::string& why) {
    struct Visitor {
        const OptionRow& row;
        const Json::Value& v;
        Options& o;
        std::string& why;
        bool operator()(std::string Options::*m) const {
            if (!v.isString()) return Refuse("must be a text");
            why = row.check(v.asString());
            if (!why.empty()) return false;
            o.*m = v.asString();
            return true;
        }
        bool operator()(bool Options::*m) const {
            if (!v.isBool()) return Refuse("must be true or false");
            o.*m = v.asBool();
            return true;
        }
        bool operator()(long long Options::*m) const {
            if (!v.isIntegral() || v.asLargestInt() < row.low || v.asLargestInt() > row.high) {
                return Refuse(("must be a whole number from " + std::to_string(row.low) + " to " +
                               std::to_string(row.high)).c_str());
            }
            o.*m = v.asLargestInt();
            return true;
        }
        bool operator()(std::vector<Query> Options::*m) const {
            if (!v.isArray()) return Refuse("must be an array of \"ID:KEY\" texts");
            std::vector<Query> queries;
            for (const Json::Value& item : v) {
                Query q;
                if (!item.isString() || !ParseQuery(item.asString(), q)) {
                    return Refuse("must be an array of \"ID:KEY\" texts");
                }
                queries.push_back(q);
            }
            o.*m = std::move(queries);
            return true;
        }
        bool operator()(std::vector<std::string> Options::*m) const {
            std::vector<std::string> texts;
            for (const Json::Value& item : v) {
                if (!item.isString()) break;
                why = row.check(item.asString());
                if (!why.empty()) return false;
                texts.push_back(item.asString());
            }
            if (!v.isArray() || texts.size() != v.size()) return Refuse("must be an array of texts");
            o.*m = std::move(texts);
            return true;
        }
        // Only on the command line (a device configuration has its own "address").
        bool operator()(std::vector<long long> Options::*) const {
            return Refuse("is for the command line only");
        }
        bool Refuse(const char* text) const {
            why = text;
            return false;
        }
    };
    return std::visit(Visitor{row, v, o, why}, row.field);
}

const OptionRow* FindConfigOption(const std::string& key) {
    for (const OptionRow& row : kOptions) {
        if (!row.commandLineOnly && key == row.name) return &row;
    }
    return nullptr;
}

// The "monitor" object: every key an option, taken unless the command line
// gave that option; checked either way, so a bad value never waits for the
// day the command line stops giving it.
bool ApplyMonitorObject(const Json::Value& object, const std::set<std::string>& given,
                        Options& o, std::string& error) {
    for (const std::string& key : object.getMemberNames()) {
        const OptionRow* row = FindConfigOption(key);
        std::string why = "unknown";
        Options unused;
        if (row != nullptr && ApplyKey(*row, object[key], given.count(key) != 0 ? unused : o, why)) {
            continue;
        }
        error = "key \"monitor." + key + "\": " + why;
        return false;
    }
    return true;
}

bool LoadDeviceConfig(Options& o, const std::set<std::string>& given, std::string& error) {
    Json::Value config;
    const bool loaded = o.config.empty()
                            ? ParseConfigText(kBuiltinConfig, "the built-in configuration", config, error)
                            : LoadConfigFile(o.config, config, error);
    if (!loaded) return false;
    const std::string origin = o.config.empty() ? "the built-in configuration" : o.config;
    if (!SystemsOf(config, o.systems, error) ||
        !ApplyMonitorObject(config.get("monitor", Json::objectValue), given, o, error)) {
        error = origin + ": " + error;
        return false;
    }
    o.device = o.systems.front().device;
    return true;
}

// The path with links, "." and ".." resolved as far as it exists.
std::filesystem::path ResolvedPath(const std::string& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec).lexically_normal();
    const auto resolved = std::filesystem::weakly_canonical(absolute, ec);
    return ec ? absolute : resolved;
}

// One file under two names: the same path once resolved, or, for files
// that exist, the same device and inode (a hard link).
bool SameFile(const std::string& a, const std::string& b) {
    if (ResolvedPath(a) == ResolvedPath(b)) return true;
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// SQLite's own files beside the database are the database too.
bool IsDatabaseCompanion(const std::string& path, const std::string& database) {
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        if (SameFile(path, database + suffix)) return true;
    }
    return false;
}

// Two outputs on one file would overwrite each other (an event file over the
// history database destroys it).
bool CheckDistinctFiles(const Options& o, std::string& error) {
    const std::string history = o.history == ":memory:" ? "" : o.history;
    const std::pair<const char*, std::string> files[] = {
        {"--events", o.events},
        {"--history", history},
        {"--plugin-stdout", o.pluginStdout == "-" ? "" : o.pluginStdout},
    };
    for (size_t i = 0; i < std::size(files); ++i) {
        if (files[i].second.empty()) continue;
        if (!history.empty() && files[i].second != history && IsDatabaseCompanion(files[i].second, history)) {
            error = std::string(files[i].first) + " names a file of the --history database: " + files[i].second;
            return false;
        }
        for (size_t k = i + 1; k < std::size(files); ++k) {
            if (files[k].second.empty() || !SameFile(files[i].second, files[k].second)) continue;
            error = std::string(files[i].first) + " and " + files[k].first +
                    " name the same file: " + files[i].second;
            return false;
        }
    }
    return true;
}

// Options that only mean something beside another one are refused alone,
// naming the one that is missing.
bool CheckDependentOptions(const Options& o, std::string& error) {
    const std::tuple<const char*, bool, const char*, bool> rows[] = {
        {"--mqtt-user", !o.mqttUser.empty(), "--mqtt", !o.mqtt.empty()},
        {"--mqtt-password-file", !o.mqttPasswordFile.empty(), "--mqtt", !o.mqtt.empty()},
        {"--mqtt-ca", !o.mqttCa.empty(), "--mqtt", !o.mqtt.empty()},
        {"--mqtt-client-id", !o.mqttClientId.empty(), "--mqtt", !o.mqtt.empty()},
        {"--http-user", !o.httpUser.empty(), "--http", !o.http.empty()},
        {"--http-password-hash", !o.httpPasswordHash.empty(), "--http", !o.http.empty()},
    };
    for (const auto& [option, set, needed, present] : rows) {
        if (!set || present) continue;
        error = std::string(option) + " has no effect without " + needed;
        return false;
    }
    return true;
}

bool CheckCombination(const Options& o, std::string& error) {
    if (!o.addresses.empty() && !o.scan) {
        error = "--address is the address --scan asks; it goes with --scan";
        return false;
    }
    if (!o.simScenario.empty() && !o.port.empty()) {
        error = "--sim-scenario is for the built-in simulator and cannot go with --port";
        return false;
    }
    if (o.httpUser.empty() != o.httpPasswordHash.empty()) {
        error = "--http-user and --http-password-hash go together";
        return false;
    }
    return CheckDependentOptions(o, error) && CheckDistinctFiles(o, error);
}
}  // namespace

cli::Outcome ParseOptions(int argc, const char* const* argv, Options& out) {
    Options o;
    CLI::App app("The reference host: loads the trm27k plug-in and polls a TRM27K power system "
                 "over a serial line, or the built-in simulator.\n"
                 "Exit status: 0 clean stop, 1 port busy, lost line (with --exit-on-loss) or "
                 "plug-in failure, 2 bad arguments, configuration or history file, 3 history rows "
                 "or event lines lost to failed writes.",
                 "trm27k-monitor");
    cli::SetUp(app);
    for (const OptionRow& row : kOptions) AddToCommandLine(app, row, o);
    const cli::Outcome parsed = cli::Parse(app, argc, argv);
    if (!parsed.run) return parsed;
    std::set<std::string> given;
    for (const OptionRow& row : kOptions) {
        if (app.get_option(LongName(row))->count() > 0) given.insert(row.name);
    }
    std::string error;
    if (!LoadDeviceConfig(o, given, error) || !CheckCombination(o, error)) {
        return cli::Refuse(error);
    }
    out = std::move(o);
    return {};
}

}  // namespace monitor
