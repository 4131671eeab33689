#pragma once
// Home Assistant discovery for the site: what the site model holds, offered
// as entities on one device per child beside a device for the site.
//   DISCOVERY/binary_sensor/trm27k_SITE/link/config      the link (connectivity)
//   DISCOVERY/sensor/DEVICE/OBJECT/config                 the values of discovery_table.h
//   DISCOVERY/binary_sensor/DEVICE/OBJECT/config          module faults, alarm groups
// Every value entity reads its own value topic (value_topics.h) and is
// available while the monitor is online (the status topic, with its Last
// Will) and the child's values are current (its availability topic); a
// value the power system did not provide has no retained message, or an
// empty one, which renders as None (unknown).
// Pure functions: no broker, no clock.
#include <string>
#include <vector>

#include "messages.h"

namespace mqtt {

// PREFIX/SITE/DATA_ID/availability: "online" while the child's values are
// current by the model's freshness rule.
std::string ChildAvailabilityTopic(const MqttSettings& s, unsigned int dataId);
const char* ChildAvailability(const site::ChildState& child, int64_t nowEpochMs);

// What the discovery set depends on: the model, the children and their
// channel and value counts, and the rules seen. Configs are built again only
// when it changes.
std::string DiscoveryShape(const site::Snapshot& snapshot);
// One retained config per entity, the site device's first.
std::vector<Message> DiscoveryMessages(const MqttSettings& s, const site::Snapshot& snapshot,
                                       const std::string& version);

}  // namespace mqtt
