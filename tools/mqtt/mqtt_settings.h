#pragma once
// How the monitor reaches its MQTT broker and names its topics.
#include <string>

namespace mqtt {

struct MqttSettings {
    std::string host;                 // empty: no MQTT
    int port = 1883;
    std::string clientId;             // empty: trm27k-SITE
    std::string user;
    std::string passwordFile;         // the password is read from this file, never given inline
    std::string caFile;               // non-empty: TLS, the broker checked against this CA
    std::string prefix = "trm27k";
    std::string site = "site";
    bool discovery = true;
    std::string discoveryPrefix = "homeassistant";
    int refreshSeconds = 3600;        // each child's values in one message this often (0: never)
    bool stateJson = false;           // also the whole record as JSON on DATA_ID/state
    int heartbeatSeconds = 60;        // that JSON state at least this often
    double outboxMaxMb = 50;          // the outbox's payload bytes at most
    int keepaliveSeconds = 30;
    int maxBackoffSeconds = 60;       // reconnect delays double up to this
};

// "HOST" or "HOST:PORT" into the settings; false on a bad port.
bool ParseBroker(const std::string& text, MqttSettings& out);

}  // namespace mqtt
