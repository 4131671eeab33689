#include "discovery.h"

#include <algorithm>
#include <cctype>

#include "alarm_names.h"
#include "discovery_table.h"
#include "record_values.h"
#include "value_topics.h"

namespace mqtt {

namespace {
// What every config of one device shares.
struct DeviceInfo {
    Json::Value device;
    Json::Value availability;
    std::string id;  // node id of its configs
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

// A value entity on its own topic, whose payload is the bare value; an
// empty payload (the value removed) renders as None.
void ValueEntity(const Context& c, const DeviceInfo& d, const site::ChildState& child, const ValueSlot& slot) {
    const EntityRow& row = *slot.row;
    const bool numbered = row.scope != Scope::Header;
    Json::Value config(Json::objectValue);
    config["name"] = numbered ? std::string(row.each) + " " + std::to_string(slot.k + 1) + " " + row.name : row.name;
    config["state_topic"] = ValueTopic(c.s, child.dataId, slot.object);
    config["device_class"] = row.deviceClass;
    if (row.shape == Shape::Problem) {
        config["value_template"] = "{{ None if value == '' else ('ON' if value == '1' else 'OFF') }}";
        Emit(c, d, "binary_sensor", slot.object, std::move(config));
        return;
    }
    config["value_template"] = "{{ None if value == '' else value }}";
    config["unit_of_measurement"] = row.unit != nullptr ? row.unit : slot.field->unit;
    config["state_class"] = "measurement";
    Emit(c, d, "sensor", slot.object, std::move(config));
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
        shape += "|" + std::to_string(child.dataId);
        for (const ValueSlot& slot : ValueSlots(child)) shape += ":" + slot.object;
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
        if (site::LayoutOf(child.recordType) == nullptr) continue;
        const DeviceInfo device = ChildDevice(c, child);
        for (const ValueSlot& slot : ValueSlots(child)) ValueEntity(c, device, child, slot);
    }
    AlarmEntities(c, site);
    return out;
}

}  // namespace mqtt
