#include "discovery.h"

#include <algorithm>
#include <cctype>

#include "alarm_names.h"
#include "discovery_table.h"
#include "record_values.h"

namespace mqtt {

namespace {
// What every config of one device shares.
struct DeviceInfo {
    Json::Value device;
    Json::Value availability;
    std::string id;          // node id of its configs
    std::string stateTopic;  // its values
};

struct Context {
    const MqttSettings& s;
    const site::Snapshot& snapshot;
    const std::string& version;
    std::vector<Message>& out;
};

// Discovery node and object ids allow letters, digits, '_' and '-' only.
std::string IdText(const std::string& text) {
    std::string out;
    for (const char c : text) out += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    return out;
}

std::string SiteId(const MqttSettings& s) { return "trm27k_" + IdText(s.site); }

std::string DeviceId(const MqttSettings& s, unsigned int dataId) {
    return SiteId(s) + "_" + std::to_string(dataId);
}

const char* DeviceName(int recordType) {
    switch (recordType) {
        case 5175: return "AC distribution";
        case 5176: return "DC distribution";
        default: return "rectifiers";
    }
}

Json::Value AvailabilityEntry(const std::string& topic) {
    Json::Value a(Json::objectValue);
    a["topic"] = topic;
    a["payload_available"] = "online";
    a["payload_not_available"] = "offline";
    return a;
}

// The model is the one the site model decided; left out while it is
// unknown. No maker is named: the record does not tell one.
DeviceInfo SiteDevice(const Context& c) {
    DeviceInfo d;
    d.id = SiteId(c.s);
    d.device["identifiers"].append(d.id);
    d.device["name"] = c.s.site + " power system";
    if (!c.snapshot.model.empty()) d.device["model"] = c.snapshot.model;
    d.availability.append(AvailabilityEntry(StatusTopic(c.s)));
    return d;
}

// With several power systems each is a device of its own under the site's,
// and its children's devices name it as their `via_device`.
std::string SystemId(const MqttSettings& s, const std::string& system) { return SiteId(s) + "_" + IdText(system); }

DeviceInfo SystemDevice(const Context& c, const site::DeviceState& system) {
    DeviceInfo d;
    d.id = SystemId(c.s, system.name);
    d.device["identifiers"].append(d.id);
    d.device["name"] = c.s.site + " " + system.name + " power system";
    if (!system.model.empty()) d.device["model"] = system.model;
    d.device["via_device"] = SiteId(c.s);
    d.availability.append(AvailabilityEntry(StatusTopic(c.s)));
    return d;
}

DeviceInfo ChildDevice(const Context& c, const site::ChildState& child) {
    DeviceInfo d;
    d.id = DeviceId(c.s, child.dataId);
    d.device["identifiers"].append(d.id);
    d.device["name"] = c.s.site + " " + DeviceName(child.recordType) + " " + std::to_string(child.dataId);
    if (!c.snapshot.model.empty()) d.device["model"] = c.snapshot.model;
    // Announced by the link's config (or the system's), sent first.
    d.device["via_device"] = c.snapshot.Several() ? SystemId(c.s, child.system) : SiteId(c.s);
    if (const site::DeviceState* system = c.snapshot.Device(child.system); system != nullptr && c.snapshot.Several()) {
        if (!system->model.empty()) d.device["model"] = system->model;
    }
    d.availability.append(AvailabilityEntry(StatusTopic(c.s)));
    d.availability.append(AvailabilityEntry(ChildAvailabilityTopic(c.s, child.dataId)));
    d.stateTopic = SiteBase(c.s) + std::to_string(child.dataId) + "/state";
    return d;
}

void Emit(const Context& c, const DeviceInfo& d, const char* component, const std::string& object,
          Json::Value config) {
    config["unique_id"] = d.id + "_" + object;
    config["device"] = d.device;
    if (!d.availability.empty()) {
        config["availability"] = d.availability;
        config["availability_mode"] = "all";
    }
    config["origin"]["name"] = "trm27k-monitor";
    config["origin"]["sw_version"] = c.version;
    c.out.push_back({Kind::State, c.s.discoveryPrefix + "/" + component + "/" + d.id + "/" + object + "/config",
                     CompactJson(config), true});
}

// A power system's link, with several: its rectifier group (which takes the
// main device's data id) has current values, so the system answers.
void SystemLinkEntity(const Context& c, DeviceInfo system, unsigned int dataId) {
    Json::Value config(Json::objectValue);
    config["name"] = "Link";
    config["state_topic"] = ChildAvailabilityTopic(c.s, dataId);
    config["payload_on"] = "online";
    config["payload_off"] = "offline";
    config["device_class"] = "connectivity";
    config["entity_category"] = "diagnostic";
    Emit(c, system, "binary_sensor", "link", std::move(config));
}

// The link: on while the monitor is online with the line up and the poll
// going. Its state is the status topic itself, whose Last Will turns it off
// when the monitor is gone, so it needs no availability of its own.
void LinkEntity(const Context& c, DeviceInfo site) {
    Json::Value config(Json::objectValue);
    config["name"] = "Link";
    config["state_topic"] = StatusTopic(c.s);
    config["payload_on"] = "online";
    config["payload_off"] = "offline";
    config["device_class"] = "connectivity";
    config["entity_category"] = "diagnostic";
    site.availability = Json::Value(Json::arrayValue);
    Emit(c, site, "binary_sensor", "link", std::move(config));
}

// The path of value `k` of a row in the state JSON, as a template expression
// that yields None (never an error) when the channel, value or field is not
// there, or the value was not provided (absent, or null inside an array).
std::string ValuePath(const site::Layout& layout, const EntityRow& row, size_t k) {
    const std::string index = "[" + std::to_string(k) + "]";
    switch (row.scope) {
        case Scope::Header: return std::string("value_json.") + row.field + " | default(None)";
        case Scope::Channel:
            return std::string("((value_json.") + layout.channelsName + " | default([]))" + index +
                   " | default({}))." + row.field + " | default(None)";
        case Scope::Element:
            return std::string("(value_json.") + row.field + " | default([]))" + index + " | default(None)";
    }
    return "None";
}

// How many entities a row makes for one child: one for a header field, one
// per channel record, one per array value the device sent (at most what the
// record keeps); 0 when the image does not fit its layout.
size_t CountOf(const site::Layout& layout, const EntityRow& row, const site::ChildState& child) {
    const auto channels = site::ChannelCount(layout, child.image.data(), child.image.size());
    if (!channels) return 0;
    if (row.scope == Scope::Header) return 1;
    if (row.scope == Scope::Channel) return *channels;
    const site::Field* values = site::FindField(layout.header, row.field);
    return values != nullptr ? site::AnnouncedItems(*values, child.image.data()) : 0;
}

void ValueEntity(const Context& c, const DeviceInfo& d, const site::Layout& layout, const EntityRow& row,
                 size_t k) {
    const bool numbered = row.scope != Scope::Header;
    const std::string object = numbered ? row.idPrefix + std::to_string(k) + "_" + row.field : row.field;
    Json::Value config(Json::objectValue);
    config["name"] = numbered ? std::string(row.each) + " " + std::to_string(k + 1) + " " + row.name : row.name;
    config["state_topic"] = d.stateTopic;
    config["device_class"] = row.deviceClass;
    const std::string value = ValuePath(layout, row, k);
    if (row.shape == Shape::Problem) {
        config["value_template"] = "{% set v = " + value + " %}{{ None if v is none else ('ON' if v == 1 else 'OFF') }}";
        Emit(c, d, "binary_sensor", object, std::move(config));
        return;
    }
    const site::Field* field = site::FindField(row.scope == Scope::Channel ? layout.channel : layout.header, row.field);
    config["value_template"] = "{{ " + value + " }}";
    config["unit_of_measurement"] = row.unit != nullptr ? row.unit : field->unit;
    config["state_class"] = "measurement";
    Emit(c, d, "sensor", object, std::move(config));
}

// A text inside a single-quoted template string.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char ch : text) {
        if (ch == '\\' || ch == '\'') out += '\\';
        out += ch;
    }
    return out + "'";
}

// One problem sensor per alarm name of a device: on while any of its rules
// (all channels, fuses or modules) is active in the retained active-alarm
// list. Its id is the first key of the name, as stable as the catalogue.
void AlarmEntity(const Context& c, const DeviceInfo& d, const site::RuleState& first) {
    const rule_value& rule = first.rule;
    const char* english = site::EnglishText(rule.name);
    Json::Value config(Json::objectValue);
    config["name"] = english != nullptr ? english : rule.name;
    config["state_topic"] = SiteBase(c.s) + "alarms";
    config["device_class"] = "problem";
    config["value_template"] = "{{ 'ON' if (value_json.active | default([]) | selectattr('data_id', 'eq', " +
                               std::to_string(rule.data_id) + ") | selectattr('name', 'eq', " + Quoted(rule.name) +
                               ") | list) else 'OFF' }}";
    Emit(c, d, "binary_sensor", "alarm_" + IdText(rule.key), std::move(config));
}

// A main device's own rules (the model check) belong to its power system.
DeviceInfo OwnerOf(const Context& c, const DeviceInfo& site, unsigned int dataId) {
    if (!c.snapshot.Several()) return site;
    for (const site::DeviceState& d : c.snapshot.devices) {
        if (d.dataId == dataId) return SystemDevice(c, d);
    }
    return site;
}

void AlarmEntities(const Context& c, const DeviceInfo& site) {
    std::vector<const site::RuleState*> firsts;
    for (const site::RuleState& r : c.snapshot.rules) {
        const bool seen = std::any_of(firsts.begin(), firsts.end(), [&](const site::RuleState* f) {
            return f->rule.data_id == r.rule.data_id && f->rule.name == r.rule.name;
        });
        if (!seen) firsts.push_back(&r);
    }
    for (const site::RuleState* first : firsts) {
        const site::ChildState* child = nullptr;
        for (const site::ChildState& ch : c.snapshot.children) {
            if (ch.dataId == first->rule.data_id) child = &ch;
        }
        AlarmEntity(c, child != nullptr ? ChildDevice(c, *child) : OwnerOf(c, site, first->rule.data_id), *first);
    }
}
}  // namespace

std::string ChildAvailabilityTopic(const MqttSettings& s, unsigned int dataId) {
    return SiteBase(s) + std::to_string(dataId) + "/availability";
}

const char* ChildAvailability(const site::ChildState& child, int64_t nowEpochMs) {
    return site::IsStale(child, nowEpochMs) ? "offline" : "online";
}

std::string DiscoveryShape(const site::Snapshot& snapshot) {
    std::string shape = snapshot.model + "|" + std::to_string(snapshot.rules.size());
    for (const site::DeviceState& d : snapshot.devices) shape += "|" + d.name + ":" + d.model;
    for (const site::ChildState& child : snapshot.children) {
        const site::Layout* layout = site::LayoutOf(child.recordType);
        shape += "|" + std::to_string(child.dataId);
        for (const EntityRow& row : kEntityRows) {
            if (layout != nullptr && row.recordType == child.recordType) {
                shape += ":" + std::to_string(CountOf(*layout, row, child));
            }
        }
    }
    return shape;
}

std::vector<Message> DiscoveryMessages(const MqttSettings& s, const site::Snapshot& snapshot,
                                       const std::string& version) {
    std::vector<Message> out;
    const Context c{s, snapshot, version, out};
    const DeviceInfo site = SiteDevice(c);
    LinkEntity(c, site);
    for (const site::DeviceState& system : snapshot.devices) {
        if (snapshot.Several()) SystemLinkEntity(c, SystemDevice(c, system), system.dataId);
    }
    for (const site::ChildState& child : snapshot.children) {
        const site::Layout* layout = site::LayoutOf(child.recordType);
        if (layout == nullptr) continue;
        const DeviceInfo device = ChildDevice(c, child);
        for (const EntityRow& row : kEntityRows) {
            if (row.recordType != child.recordType) continue;
            const size_t count = CountOf(*layout, row, child);
            for (size_t k = 0; k < count; ++k) ValueEntity(c, device, *layout, row, k);
        }
    }
    AlarmEntities(c, site);
    return out;
}

}  // namespace mqtt
