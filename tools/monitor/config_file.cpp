#include "config_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <cstring>
#include <map>

namespace monitor {

namespace {
enum class Shape {
    DataId,     // a non-negative integer
    Address,    // an integer from 0 to 255
    Entries,    // an array of child entries
    Entry,      // a child entry object
    AppSetting, // the object of change thresholds
    Threshold,  // a number, or a text holding one
    Object,     // an object checked elsewhere
};

// Every key the configuration may hold, by the object it stands in. A key
// not listed under its object is refused.
struct KeyRow {
    Shape in;
    const char* key;
    Shape shape;
};
constexpr Shape kTop = Shape::Object;
constexpr KeyRow kKeys[] = {
    {kTop, "data_id", Shape::DataId},
    {kTop, "address", Shape::Address},
    {kTop, "acSetting", Shape::Entries},
    {kTop, "dcSetting", Shape::Entries},
    {kTop, "rcSetting", Shape::Entry},
    {kTop, "monitor", Shape::Object},
    {Shape::Entry, "data_id", Shape::DataId},
    {Shape::Entry, "appSetting", Shape::AppSetting},
    {Shape::AppSetting, "diff_v", Shape::Threshold},
    {Shape::AppSetting, "diff_i", Shape::Threshold},
};

const KeyRow* FindKey(Shape in, const std::string& key) {
    for (const KeyRow& row : kKeys) {
        if (row.in == in && key == row.key) return &row;
    }
    return nullptr;
}

// A threshold as the children read it: a number, or a text holding one.
bool ThresholdValue(const Json::Value& v, double& out) {
    if (v.isNumeric()) {
        out = v.asDouble();
        return true;
    }
    if (!v.isString()) return false;
    const std::string text = v.asString();
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

std::string Refuse(const std::string& path, const char* why) {
    return "key \"" + path + "\": " + why;
}

bool CheckObject(const Json::Value& v, Shape in, const std::string& path, std::string& error);

bool CheckValue(const Json::Value& v, Shape shape, const std::string& path, std::string& error) {
    switch (shape) {
        case Shape::DataId:
            if (v.isUInt()) return true;
            error = Refuse(path, "must be a non-negative integer");
            return false;
        case Shape::Address:
            if (v.isIntegral() && v.asLargestInt() >= 0 && v.asLargestInt() <= 255) return true;
            error = Refuse(path, "must be an integer from 0 to 255");
            return false;
        case Shape::Threshold: {
            // A negative threshold would count every cycle as changed.
            double value = 0;
            if (ThresholdValue(v, value) && value >= 0) return true;
            error = Refuse(path, "must be a number of 0 or more");
            return false;
        }
        case Shape::Entries:
            if (!v.isArray()) {
                error = Refuse(path, "must be an array");
                return false;
            }
            for (Json::ArrayIndex i = 0; i < v.size(); ++i) {
                if (!CheckValue(v[i], Shape::Entry, path + "[" + std::to_string(i) + "]", error)) {
                    return false;
                }
            }
            return true;
        case Shape::Entry:
        case Shape::AppSetting:
            if (v.isObject()) return CheckObject(v, shape, path, error);
            error = Refuse(path, "must be an object");
            return false;
        case Shape::Object:
            if (v.isObject()) return true;
            error = Refuse(path, "must be an object");
            return false;
    }
    return false;
}

bool CheckObject(const Json::Value& v, Shape in, const std::string& path, std::string& error) {
    for (const std::string& key : v.getMemberNames()) {
        const std::string inner = path.empty() ? key : path + "." + key;
        const KeyRow* row = FindKey(in, key);
        if (row == nullptr) {
            error = Refuse(inner, "unknown");
            return false;
        }
        if (!CheckValue(v[key], row->shape, inner, error)) return false;
    }
    return true;
}

// The rectifier child takes the main device's data id; AC and DC children
// must differ from it and from each other, across every power system of the
// site, or one child's history would be restored into another and two
// systems would share topics, metrics and API paths.
class IdRegister {
public:
    bool Add(unsigned int id, const std::string& place, std::string& error) {
        const auto [at, fresh] = places_.emplace(id, place);
        if (fresh) return true;
        error = Refuse(place, ("data id " + std::to_string(id) + " is used twice (also at " + at->second +
                               ")").c_str());
        return false;
    }
    bool AddDevice(const Json::Value& config, const std::string& prefix, std::string& error) {
        if (!Add(config["data_id"].asUInt(), prefix + "data_id", error)) return false;
        for (const char* list : {"acSetting", "dcSetting"}) {
            const Json::Value& entries = config[list];
            for (Json::ArrayIndex i = 0; i < entries.size(); ++i) {
                const std::string place = prefix + list + "[" + std::to_string(i) + "].data_id";
                if (!Add(entries[i]["data_id"].asUInt(), place, error)) return false;
            }
        }
        return true;
    }

private:
    std::map<unsigned int, std::string> places_;
};

// "name" and "port" of a power system: texts that name it in topics and labels.
bool TakeText(Json::Value& element, const char* key, const std::string& prefix, std::string& out,
              std::string& error) {
    if (!element.isMember(key)) return true;
    const Json::Value v = element[key];
    element.removeMember(key);
    const bool topicSafe = std::strcmp(key, "port") == 0 ||
                           (v.isString() && v.asString().find_first_of("/+# \"\\") == std::string::npos);
    if (v.isString() && !v.asString().empty() && topicSafe) {
        out = v.asString();
        return true;
    }
    error = Refuse(prefix + key, "must be a text without '/', '+', '#', spaces or quotes");
    return false;
}

bool OneSystem(const Json::Value& element, const std::string& prefix, SystemConfig& out, std::string& error) {
    if (!element.isObject()) {
        error = Refuse(prefix.substr(0, prefix.size() - 1), "must be an object");
        return false;
    }
    out.device = element;
    if (element.isMember("monitor")) {
        error = Refuse(prefix + "monitor", "belongs beside \"devices\", not in an element");
        return false;
    }
    if (!TakeText(out.device, "name", prefix, out.name, error) ||
        !TakeText(out.device, "port", prefix, out.port, error)) {
        return false;
    }
    if (!CheckDeviceConfig(out.device, error)) {
        error.insert(error.rfind("key \"", 0) == 0 ? 5 : 0, prefix);
        return false;
    }
    if (out.name.empty()) out.name = "addr" + std::to_string(out.device.get("address", 1).asUInt());
    return true;
}

// Two systems of one name, or one address twice on a bus, cannot be told apart.
bool CheckDistinctSystems(const std::vector<SystemConfig>& systems, std::string& error) {
    for (size_t i = 0; i < systems.size(); ++i) {
        for (size_t k = 0; k < i; ++k) {
            const std::string at = "devices[" + std::to_string(i) + "]";
            if (systems[i].name == systems[k].name) {
                error = Refuse(at + ".name", ("\"" + systems[i].name + "\" is the name of devices[" +
                                              std::to_string(k) + "] too; give each a \"name\"").c_str());
                return false;
            }
            if (systems[i].port == systems[k].port &&
                systems[i].device.get("address", 1).asUInt() == systems[k].device.get("address", 1).asUInt()) {
                error = Refuse(at + ".address", ("the same address and port as devices[" + std::to_string(k) +
                                                 "]").c_str());
                return false;
            }
        }
    }
    return true;
}
}  // namespace

bool ParseConfigText(const std::string& text, const std::string& origin, Json::Value& out,
                     std::string& error) {
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    builder["rejectDupKeys"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &out, &errors)) {
        // "* Line 1, Column 3\n  Syntax error: ..." on one line.
        while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' ')) errors.pop_back();
        for (char& c : errors) {
            if (c == '\n') c = ' ';
        }
        if (errors.rfind("* ", 0) == 0) errors.erase(0, 2);
        error = origin + ": " + errors;
        return false;
    }
    if (!out.isObject()) {
        error = origin + ": not a JSON object";
        return false;
    }
    return true;
}

bool LoadConfigFile(const std::string& path, Json::Value& out, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": cannot read: a directory";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    return ParseConfigText(text, path, out, error);
}

bool CheckDeviceConfig(const Json::Value& config, std::string& error) {
    if (!CheckObject(config, kTop, "", error)) return false;
    if (!config.isMember("rcSetting")) {
        error = "key \"rcSetting\": missing (the rectifier group's entry, {} at least)";
        return false;
    }
    IdRegister ids;
    return ids.AddDevice(config, "", error);
}

bool SystemsOf(const Json::Value& config, std::vector<SystemConfig>& out, std::string& error) {
    out.clear();
    if (!config.isMember("devices")) {
        SystemConfig one;
        one.device = config;
        one.device.removeMember("monitor");
        if (!CheckDeviceConfig(config, error)) return false;
        one.name = "addr" + std::to_string(config.get("address", 1).asUInt());
        out.push_back(std::move(one));
        return true;
    }
    for (const std::string& key : config.getMemberNames()) {
        if (key == "devices" || key == "monitor") continue;
        error = Refuse(key, "unknown beside \"devices\" (it belongs in an element of it)");
        return false;
    }
    const Json::Value& list = config["devices"];
    if (!list.isArray() || list.empty()) {
        error = Refuse("devices", "must be an array of one device configuration or more");
        return false;
    }
    IdRegister ids;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        const std::string prefix = "devices[" + std::to_string(i) + "].";
        SystemConfig one;
        if (!OneSystem(list[i], prefix, one, error) || !ids.AddDevice(one.device, prefix, error)) return false;
        out.push_back(std::move(one));
    }
    return CheckDistinctSystems(out, error);
}

}  // namespace monitor
