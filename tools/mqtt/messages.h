#pragma once
// The topics and payloads the monitor publishes, built from the site model's
// snapshots. Pure functions: no broker, no clock.
//   PREFIX/SITE/status            retained "online" / "offline"
//   PREFIX/SITE/DATA_ID/state     retained JSON per child
//   PREFIX/SITE/alarm             one message per raise and per clear (QoS 1)
//   PREFIX/SITE/alarms            retained JSON, the active alarms
//   DISCOVERY/sensor/NODE/OBJECT/config   Home Assistant discovery, retained
#include <string>
#include <vector>

#include "mqtt_settings.h"
#include "site_snapshot.h"

namespace mqtt {

// What a message is decides the order in which the outbox gives it up when full.
enum class Kind : int { State = 0, Alarms = 1, Alarm = 2 };

struct Message {
    Kind kind = Kind::State;
    std::string topic;
    std::string payload;
    bool retain = false;
};

std::string StatusTopic(const MqttSettings& s);
Message StateMessage(const MqttSettings& s, const site::ChildState& child);
Message AlarmMessage(const MqttSettings& s, const site::AlarmEvent& event);
Message AlarmsMessage(const MqttSettings& s, const site::Snapshot& snapshot);
// One retained config per sensor of every child in the snapshot.
std::vector<Message> DiscoveryMessages(const MqttSettings& s, const site::Snapshot& snapshot,
                                       const std::string& version);

}  // namespace mqtt
