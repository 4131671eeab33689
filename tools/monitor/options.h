#pragma once
// The options of trm27k-monitor. Each option is one row of the table in
// options.cpp and can be given two ways: as --NAME on the command line, or as
// "NAME" in the "monitor" object of the --config file; the command line wins.
#include <string>
#include <vector>

#include <json/json.h>

#include "cli.h"
#include "config_file.h"

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
    long long firstByteMs = 1000;  // reply timeout before the first byte
    long long gapMs = 100;         // reply timeout between two bytes
    bool fast = false;           // no pacing, no reply pause, a short gate (tests, soak)
    bool quiet = false;          // no per-cycle summary
    bool fullPoll = false;       // never mark the main device ready
    long long retainDays = 30;   // history rows older than this are pruned; 0: kept
    std::string historyRows = "all";  // "changes": only changed images, and one every 5 minutes
    long long historyCommit = 1;      // cycles per history transaction
    long long eventsMaxMb = 16;       // event file rotation size; 0: never rotated
    long long eventsKeep = 4;         // rotated event files kept
    std::string eventsRules = "all";  // "changes": a rules batch only when a rule changed
    std::vector<std::string> eventsOmit;  // event kinds not written
    bool scan = false;           // list the serial ports and probe them, then exit
    std::vector<long long> addresses;  // probed by --scan; empty: address 1
    bool exitOnLoss = false;     // a lost line ends the run (status 1) instead of being reopened

    // The power systems of the site, each with its device configuration for
    // the plug-in (the --config file without its "monitor" object, or the
    // built-in one); `device` is the first one's.
    std::vector<SystemConfig> systems;
    Json::Value device;

    // Northbound outputs.
    std::string site = "site";           // the site's name in topics, metrics and the API
    std::string http;                    // ADDR:PORT of the HTTP server; empty: none
    std::string httpUser;                // basic-auth user of the HTTP server; empty: none
    std::string httpPasswordHash;        // crypt(3) hash of that user's password
    std::string mqtt;                    // HOST[:PORT] of the MQTT broker; empty: none
    std::string mqttClientId;            // empty: trm27k-SITE
    std::string mqttUser;
    std::string mqttPasswordFile;
    std::string mqttCa;                  // a CA file: TLS
    std::string mqttPrefix = "trm27k";
    std::string mqttDiscoveryPrefix = "homeassistant";
    bool noMqttDiscovery = false;
    long long mqttRefresh = 3600;        // seconds between full reports of every value at the latest
    bool mqttStateJson = false;          // the whole record as JSON too
    long long mqttKeepalive = 30;        // seconds idle before a ping
    long long mqttHeartbeat = 60;        // seconds between JSON states at the latest
    long long outboxMaxMb = 50;

    // Alarm notification on the board itself.
    std::string onAlarm;                 // command run on each raise, clear and link change; empty: none
    long long onAlarmJobs = 2;           // commands at once at most
    long long onAlarmTimeout = 30;       // seconds before a command is stopped
    bool syslog = false;                 // alarms, link and storage failures also to syslog
    std::string snmpAgentx;              // the master agent's AgentX socket; empty: no SNMP
};

// Reads the command line, then the configuration file it names (or the
// built-in one) and the options in its "monitor" object. `run` false in the
// outcome: print its text and exit with its status (0 after --help or
// --version; 2 for a refusal, which names the option, key or file and why).
cli::Outcome ParseOptions(int argc, const char* const* argv, Options& out);

}  // namespace monitor
