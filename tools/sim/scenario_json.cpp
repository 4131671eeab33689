#include "scenario_json.h"

#include <fstream>
#include <sstream>

#include "scenario_keys.h"

namespace sim {

bool LoadScenario(const Json::Value& doc, Scenario& out, std::string& error) {
    Scenario s = out;
    if (!fields::ApplyObject(doc, s, fields::kScenarioKeys, "", error)) return false;
    if (!ValidateScenario(s, error)) return false;
    out = std::move(s);
    return true;
}

namespace {

constexpr std::streamsize kMaxFileBytes = 4 << 20;  // far more than any scenario needs

bool ReadFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open";
        return false;
    }
    text.resize(static_cast<size_t>(kMaxFileBytes) + 1);
    in.read(&text[0], kMaxFileBytes + 1);
    text.resize(static_cast<size_t>(in.gcount()));
    if (in.bad() || in.gcount() > kMaxFileBytes) {
        error = path + (in.bad() ? ": read error" : ": larger than 4 MiB");
        return false;
    }
    return true;
}

std::string FirstLine(const std::string& text) {
    const size_t end = text.find('\n');
    return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error) {
    std::string text;
    if (!ReadFile(path, text, error)) return false;
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);  // plain JSON, no duplicate keys
    Json::Value doc;
    std::string parseError;
    try {
        std::istringstream in(text);
        if (!Json::parseFromStream(builder, in, &doc, &parseError)) {
            error = path + ": " + FirstLine(parseError);
            return false;
        }
    } catch (const std::exception& e) {  // jsoncpp throws past its nesting limit
        error = path + ": " + FirstLine(e.what());
        return false;
    }
    Scenario s = DefaultScenario();
    if (!LoadScenario(doc, s, error)) {
        error = path + ": " + error;
        return false;
    }
    out = std::move(s);
    return true;
}

}  // namespace sim
