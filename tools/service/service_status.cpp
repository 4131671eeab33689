#include "service_status.h"

namespace service {

namespace {
std::string AlarmCount(size_t n) {
    if (n == 0) return "no alarms active";
    return std::to_string(n) + (n == 1 ? " alarm active" : " alarms active");
}
}  // namespace

std::string StatusLine(const ServiceState& state) {
    std::string line = "cycle " + std::to_string(state.cycles) + ", link " + state.link + ", " +
                       AlarmCount(state.alarms.size());
    const char* separator = ": ";
    for (const std::string& name : state.alarms) {
        // Whole names only, so a multi-byte character is never split.
        if (line.size() + 2 + name.size() + 5 > kMaxStatusBytes) return line + "; ...";
        line += separator;
        line += name;
        separator = "; ";
    }
    return line;
}

}  // namespace service
