#pragma once
// The one line `systemctl status` shows for the monitor.
#include <string>
#include <vector>

namespace service {

struct ServiceState {
    long cycles = 0;
    std::string link = "up";           // the line as the poll last saw it
    std::vector<std::string> alarms;   // names of the active alarms
};

// "cycle 42, link up, 2 alarms active: NAME; NAME". Kept short enough for a
// status line: names past kMaxStatusBytes are left out (never cut inside a
// UTF-8 character) and the count still says how many there are.
constexpr size_t kMaxStatusBytes = 240;
std::string StatusLine(const ServiceState& state);

}  // namespace service
