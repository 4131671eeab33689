#pragma once
// The monitor's configuration file: the device configuration the plug-in is
// given, and beside it an optional "monitor" object with the monitor's own
// options. Every refusal names the file and the cause: a file that cannot be
// read, JSON that does not parse (the parser's line, column and message), or
// the key that is unknown, of the wrong type, or out of range.
#include <string>

#include <json/json.h>

namespace monitor {

// Reads and parses `path` into a JSON object.
bool LoadConfigFile(const std::string& path, Json::Value& out, std::string& error);

// Parses configuration text; `origin` names it in the refusal.
bool ParseConfigText(const std::string& text, const std::string& origin, Json::Value& out,
                     std::string& error);

// Checks the keys and types of a device configuration (the "monitor" object
// is left to the options): known keys only, "acSetting" and "dcSetting"
// arrays of entry objects, "rcSetting" present, every child data id unique.
bool CheckDeviceConfig(const Json::Value& config, std::string& error);

}  // namespace monitor
