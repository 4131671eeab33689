#pragma once
// The values that go out one per topic, PREFIX/SITE/DATA_ID/OBJECT, one for
// each entity of discovery_table.h (OBJECT is the entity's object id: "v",
// "ch0_a", "bat1_n_values", "mod2_fault"). A payload is the bare value, as
// people write it ("53.5"; a fault byte "0" or "1"), so Home Assistant,
// Node-RED and Telegraf read it without a template.
//
// Report by exception per value: a value goes out when it moved by its
// threshold (site::ValueThreshold: the child's diff_v and diff_i, or the
// default of its kind) against the value last reported on its topic, or on
// any change when it has none; every value when a consumer asks. A value the
// power system stopped providing, or of a channel, battery or module that
// is gone, is removed with an empty retained message; one never provided
// never goes out.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "discovery_table.h"
#include "messages.h"

namespace mqtt {

// One value entity of a child and where its value is read.
struct ValueSlot {
    const EntityRow* row;
    size_t k;                   // its channel, battery or module (0 for a header value)
    std::string object;         // object id and last topic level
    const site::Field* field;
    const uint8_t* base;        // the record the field is read in
    size_t index;               // the item of an array field
};

// Every value entity of `child`, in table order; none when its image does
// not fit its layout. The slots point into the child's image.
std::vector<ValueSlot> ValueSlots(const site::ChildState& child);
std::string ValueTopic(const MqttSettings& s, unsigned int dataId, const std::string& object);
// The payload of a slot's value; nothing when the power system did not provide it.
std::optional<std::string> ValuePayload(const ValueSlot& slot);

// PREFIX/SITE/DATA_ID/values: every value the child provides, by object id,
// in one retained JSON object ({"v":53.5,"bat0_m_values":5.2,"mod0_fault":0});
// the periodic refresh, compact enough to send hourly on a still site.
Message ValuesMessage(const MqttSettings& s, const site::ChildState& child);

// What was last reported on each value topic. Copyable: the MQTT output
// keeps a copy to put back when what it staged was not written.
class ValueReports {
public:
    // Appends a retained message for each value of `child` that moved by its
    // threshold against the value last reported on its topic, for every
    // provided value when `all`.
    void Collect(const MqttSettings& s, const site::ChildState& child, bool all, std::vector<Message>& out);

private:
    struct Reported {
        std::optional<float> value;  // for a measurement
        std::string payload;
    };
    std::map<std::string, Reported> reported_;  // by topic
};

}  // namespace mqtt
