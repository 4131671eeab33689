#include "config_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

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
// must differ from it and from each other, or one child's history would be
// restored into another.
bool CheckUniqueIds(const Json::Value& config, std::string& error) {
    std::set<unsigned int> seen = {config["data_id"].asUInt()};
    for (const char* list : {"acSetting", "dcSetting"}) {
        const Json::Value& entries = config[list];
        for (Json::ArrayIndex i = 0; i < entries.size(); ++i) {
            const unsigned int id = entries[i]["data_id"].asUInt();
            if (seen.insert(id).second) continue;
            error = Refuse(std::string(list) + "[" + std::to_string(i) + "].data_id",
                           ("data id " + std::to_string(id) + " is used twice").c_str());
            return false;
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
    return CheckUniqueIds(config, error);
}

}  // namespace monitor
