#pragma once
// The monitor's configuration file: the device configuration the plug-in is
// given, and beside it an optional "monitor" object with the monitor's own
// options. Every refusal names the file and the cause: a file that cannot be
// read, JSON that does not parse (the parser's line, column and message), or
// the key that is unknown, of the wrong type, or out of range.
#include <string>
#include <vector>

#include <json/json.h>

namespace monitor {

// One power system of the site: its device configuration for the plug-in,
// the name every output shows it by, and the port it is polled on.
struct SystemConfig {
    Json::Value device;  // without "port" and "name"
    std::string name;    // "name", or "addrN" after its address
    std::string port;    // "port"; empty: the monitor's --port (or the built-in simulator)
};

// Reads and parses `path` into a JSON object.
bool LoadConfigFile(const std::string& path, Json::Value& out, std::string& error);

// Parses configuration text; `origin` names it in the refusal.
bool ParseConfigText(const std::string& text, const std::string& origin, Json::Value& out,
                     std::string& error);

// Checks the keys and types of a device configuration (the "monitor" object
// is left to the options): known keys only, "acSetting" and "dcSetting"
// arrays of entry objects, "rcSetting" present, every child data id unique.
bool CheckDeviceConfig(const Json::Value& config, std::string& error);

// The power systems of a configuration (without its "monitor" object): one
// for a device configuration, one per element of a "devices" array, each a
// device configuration with an optional "port" and "name". Refused: another
// key beside "devices", an empty array, two systems of one name, one address
// twice on a port, and a data id used twice anywhere in the site (naming
// both places).
bool SystemsOf(const Json::Value& config, std::vector<SystemConfig>& out, std::string& error);

}  // namespace monitor
