#pragma once
// The topics and payloads the monitor publishes, built from the site model's
// snapshots. Pure functions: no broker, no clock.
//   PREFIX/SITE/status            retained "online" / "offline"
//   PREFIX/SITE/DATA_ID/OBJECT    retained, one value each (value_topics.h)
//   PREFIX/SITE/DATA_ID/state     retained JSON per child, with --mqtt-state-json
//   PREFIX/SITE/refresh           a consumer's message here asks for every value again
//   PREFIX/SITE/discovery         retained: the last discovery pass, read back after a
//                                 reconnect (discovery_marker.h)
//   PREFIX/SITE/alarm             one message per raise and per clear (QoS 1)
//   PREFIX/SITE/alarms            retained JSON, the active alarms
//   PREFIX/SITE/DATA_ID/availability  retained "online" / "offline": the
//                                 child's values are current (discovery.h)
//   DISCOVERY/COMPONENT/NODE/OBJECT/config   Home Assistant discovery (discovery.h)
#include <string>
#include <vector>

#include <json/json.h>

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

// One line of JSON, numbers as people write them.
std::string CompactJson(const Json::Value& v);
// "PREFIX/SITE/", ahead of every topic of the site.
std::string SiteBase(const MqttSettings& s);
std::string StatusTopic(const MqttSettings& s);
std::string RefreshTopic(const MqttSettings& s);
std::string DiscoveryMarkerTopic(const MqttSettings& s);
// The whole record as JSON: its fields, when it was read ("stamp_ms") and when
// the cycle that publishes it ended ("cycle_ms"), both in milliseconds since
// 1970; the difference to the arrival is the delivery delay.
Message StateMessage(const MqttSettings& s, const site::ChildState& child, int64_t cycleEpochMs);
Message AlarmMessage(const MqttSettings& s, const site::AlarmEvent& event);
Message AlarmsMessage(const MqttSettings& s, const site::Snapshot& snapshot);

}  // namespace mqtt
