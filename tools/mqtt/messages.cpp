#include "messages.h"

#include <algorithm>
#include <cctype>

#include <json/json.h>

#include "discovery_table.h"
#include "float_json.h"
#include "record_values.h"
#include "rule_json.h"

namespace mqtt {

namespace {
std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    site::SetJsonDigits(builder);
    return Json::writeString(builder, v);
}

std::string Base(const MqttSettings& s) { return s.prefix + "/" + s.site + "/"; }

// Discovery node and object ids allow letters, digits, '_' and '-' only.
std::string IdText(const std::string& text) {
    std::string out;
    for (const char c : text) out += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    return out;
}

std::string DeviceId(const MqttSettings& s, unsigned int dataId) {
    return "trm27k_" + IdText(s.site) + "_" + std::to_string(dataId);
}

const char* DeviceName(int recordType) {
    switch (recordType) {
        case 5175: return "AC distribution";
        case 5176: return "DC distribution";
        default: return "rectifiers";
    }
}

// The model is the one the site model decided; left out while it is unknown.
Json::Value DeviceJson(const MqttSettings& s, const site::ChildState& child, const std::string& model) {
    Json::Value d(Json::objectValue);
    d["identifiers"].append(DeviceId(s, child.dataId));
    d["name"] = s.site + " " + DeviceName(child.recordType) + " " + std::to_string(child.dataId);
    if (!model.empty()) d["model"] = model;
    d["via_device"] = "trm27k_" + IdText(s.site);
    return d;
}

Message Sensor(const MqttSettings& s, const site::ChildState& child, const std::string& model,
               const SensorRow& row, const char* unit, int channel, const std::string& version) {
    const std::string suffix = channel < 0 ? row.field : "ch" + std::to_string(channel) + "_" + row.field;
    const std::string path = channel < 0 ? std::string("value_json.") + row.field
                                         : "value_json.channels[" + std::to_string(channel) + "]." + row.field;
    Json::Value c(Json::objectValue);
    c["name"] = channel < 0 ? std::string(row.name) : "channel " + std::to_string(channel) + " " + row.name;
    c["unique_id"] = DeviceId(s, child.dataId) + "_" + suffix;
    c["state_topic"] = Base(s) + std::to_string(child.dataId) + "/state";
    // A value the power system did not provide is absent from the state: unknown, not 0.
    c["value_template"] = "{{ " + path + " | default(None) }}";
    c["unit_of_measurement"] = unit;
    c["device_class"] = row.deviceClass;
    c["state_class"] = "measurement";
    c["availability_topic"] = StatusTopic(s);
    c["payload_available"] = "online";
    c["payload_not_available"] = "offline";
    c["device"] = DeviceJson(s, child, model);
    c["origin"]["name"] = "trm27k-monitor";
    c["origin"]["sw_version"] = version;
    Message m;
    m.topic = s.discoveryPrefix + "/sensor/" + DeviceId(s, child.dataId) + "/" + suffix + "/config";
    m.payload = Compact(c);
    m.retain = true;
    return m;
}

}  // namespace

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

std::string StatusTopic(const MqttSettings& s) { return Base(s) + "status"; }

Message StateMessage(const MqttSettings& s, const site::ChildState& child) {
    Json::Value v(Json::objectValue);
    const site::Layout* layout = site::LayoutOf(child.recordType);
    if (layout != nullptr) site::RecordJson(*layout, child.image.data(), child.image.size(), v);
    v["data_id"] = child.dataId;
    v["device"] = child.device;
    v["time"] = child.time;
    v["stamp_ms"] = static_cast<Json::Int64>(child.epochMs);  // for delivery delays and ordering
    v["seq"] = static_cast<Json::UInt64>(child.seq);
    return {Kind::State, Base(s) + std::to_string(child.dataId) + "/state", Compact(v), true};
}

Message AlarmMessage(const MqttSettings& s, const site::AlarmEvent& e) {
    Json::Value v = site::RuleJson(e.rule);
    v["state"] = e.raised ? "raised" : "cleared";
    v["raised"] = e.raisedTime;
    if (!e.raised) v["cleared"] = e.clearedTime;
    v["seq"] = static_cast<Json::UInt64>(e.seq);
    return {Kind::Alarm, Base(s) + "alarm", Compact(v), false};
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
    return {Kind::Alarms, Base(s) + "alarms", Compact(v), true};
}

std::vector<Message> DiscoveryMessages(const MqttSettings& s, const site::Snapshot& snapshot,
                                       const std::string& version) {
    std::vector<Message> out;
    for (const site::ChildState& child : snapshot.children) {
        const site::Layout* layout = site::LayoutOf(child.recordType);
        if (layout == nullptr) continue;
        const auto channels = site::ChannelCount(*layout, child.image.data(), child.image.size());
        for (const SensorRow& row : kSensorRows) {
            if (row.recordType != child.recordType) continue;
            const site::Field* f = site::FindField(row.perChannel ? layout->channel : layout->header, row.field);
            if (!row.perChannel) {
                out.push_back(Sensor(s, child, snapshot.model, row, f->unit, -1, version));
                continue;
            }
            for (size_t k = 0; channels && k < *channels; ++k) {
                out.push_back(Sensor(s, child, snapshot.model, row, f->unit, static_cast<int>(k), version));
            }
        }
    }
    return out;
}

}  // namespace mqtt
