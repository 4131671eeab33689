#include "service_status_output.h"

#include "service_status.h"

namespace service {

void ServiceStatusOutput::Tell(const site::Snapshot& s) {
    if (!notifier_.Active()) return;
    ServiceState state;
    state.cycles = static_cast<long>(s.counters.cycles);
    state.link = !s.linkUp ? "down" : s.stalled ? "stalled" : "up";
    for (const site::RuleState& r : s.rules) {
        if (r.rule.active != 0) state.alarms.push_back(r.rule.name);
    }
    notifier_.Status(StatusLine(state));
}

}  // namespace service
