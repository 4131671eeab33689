#include "messages.h"

#include <algorithm>

#include <json/json.h>

#include "float_json.h"
#include "record_values.h"
#include "rule_json.h"

namespace mqtt {

std::string CompactJson(const Json::Value& v) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    site::SetJsonDigits(builder);
    return Json::writeString(builder, v);
}

std::string SiteBase(const MqttSettings& s) { return s.prefix + "/" + s.site + "/"; }

// HOST, HOST:PORT, [V6]:PORT; a bare IPv6 address has no port.
bool ParseBroker(const std::string& text, MqttSettings& out) {
    std::string host = text;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return false;
            port = text.substr(close + 2);
            if (port.empty()) return false;
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        host = text.substr(0, text.find(':'));
        port = text.substr(text.find(':') + 1);
        if (port.empty()) return false;
    }
    // A host name or address has no blanks or controls.
    if (host.empty() || std::any_of(host.begin(), host.end(), [](char c) {
            return static_cast<unsigned char>(c) <= ' ' || c == 0x7F;
        })) {
        return false;
    }
    if (!port.empty()) {
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
        const int number = std::stoi(port);
        if (number < 1 || number > 65535) return false;
        out.port = number;
    }
    out.host = host;
    return true;
}

std::string StatusTopic(const MqttSettings& s) { return SiteBase(s) + "status"; }
std::string RefreshTopic(const MqttSettings& s) { return SiteBase(s) + "refresh"; }
std::string DiscoveryMarkerTopic(const MqttSettings& s) { return SiteBase(s) + "discovery"; }

Message StateMessage(const MqttSettings& s, const site::ChildState& child, int64_t cycleEpochMs) {
    Json::Value v(Json::objectValue);
    const site::Layout* layout = site::LayoutOf(child.recordType);
    if (layout != nullptr) site::RecordJson(*layout, child.image.data(), child.image.size(), v);
    v["data_id"] = child.dataId;
    v["device"] = child.device;
    v["time"] = child.time;
    v["stamp_ms"] = static_cast<Json::Int64>(child.epochMs);  // for delivery delays and ordering
    v["cycle_ms"] = static_cast<Json::Int64>(cycleEpochMs);
    v["seq"] = static_cast<Json::UInt64>(child.seq);
    return {Kind::State, SiteBase(s) + std::to_string(child.dataId) + "/state", CompactJson(v), true};
}

Message AlarmMessage(const MqttSettings& s, const site::AlarmEvent& e) {
    Json::Value v = site::RuleJson(e.rule);
    v["state"] = e.raised ? "raised" : "cleared";
    v["raised"] = e.raisedTime;
    if (!e.raised) v["cleared"] = e.clearedTime;
    v["seq"] = static_cast<Json::UInt64>(e.seq);
    return {Kind::Alarm, SiteBase(s) + "alarm", CompactJson(v), false};
}

Message AlarmsMessage(const MqttSettings& s, const site::Snapshot& snapshot) {
    Json::Value v(Json::objectValue);
    v["seq"] = static_cast<Json::UInt64>(snapshot.seq);
    v["active"] = Json::Value(Json::arrayValue);
    for (const site::RuleState& r : snapshot.rules) {
        if (r.rule.active == 0) continue;
        Json::Value a = site::RuleJson(r.rule);
        a["raised"] = r.raisedTime;
        v["active"].append(std::move(a));
    }
    return {Kind::Alarms, SiteBase(s) + "alarms", CompactJson(v), true};
}

}  // namespace mqtt
