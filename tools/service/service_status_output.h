#pragma once
// The status line `systemctl status` shows, a listener of the site model:
// the cycle count, the link (up, down or stalled) and the active alarms,
// sent when a cycle ends, an alarm changes or the link does. One datagram to
// the manager's socket, nothing that can wait.
#include <string>

#include "service_notifier.h"
#include "site_model.h"

namespace service {

class ServiceStatusOutput : public site::SiteListener {
public:
    explicit ServiceStatusOutput(ServiceNotifier& notifier) : notifier_(notifier) {}

    void OnCycle(const site::SnapshotPtr& snapshot) override { Tell(*snapshot); }
    void OnAlarms(const std::vector<site::AlarmEvent>&, const site::SnapshotPtr& snapshot) override {
        Tell(*snapshot);
    }
    void OnAvailability(const site::AvailabilityChange&, const site::SnapshotPtr& snapshot) override {
        Tell(*snapshot);
    }

private:
    void Tell(const site::Snapshot& snapshot);

    ServiceNotifier& notifier_;
};

}  // namespace service
