#include "service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace service {

ServiceNotifier::ServiceNotifier() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    active_ = socket != nullptr && *socket != '\0';
    if (!active_) return;
    uint64_t usec = 0;
    // Positive only when WATCHDOG_USEC is set and WATCHDOG_PID, if present, is us.
    if (sd_watchdog_enabled(0, &usec) > 0) watchdog_ = std::chrono::microseconds(usec);
}

void ServiceNotifier::Ready(const std::string& status) {
    Send("READY=1\nSTATUS=" + status);
}

void ServiceNotifier::Status(const std::string& status) { Send("STATUS=" + status); }

void ServiceNotifier::Progress(Clock::time_point now) {
    if (!active_ || watchdog_ == Clock::duration::zero()) return;
    // systemd asks for a keep-alive at least every half interval; a quarter
    // leaves room for one slow exchange.
    if (watchdogSent_ > 0 && now - lastKeepAlive_ < watchdog_ / 4) return;
    lastKeepAlive_ = now;
    ++watchdogSent_;
    Send("WATCHDOG=1");
}

void ServiceNotifier::Stopping() { Send("STOPPING=1\nSTATUS=stopping"); }

// A datagram to the manager's socket; a lost one is not worth failing the
// poll over, so the result is ignored.
void ServiceNotifier::Send(const std::string& state) const {
    if (active_) (void)sd_notify(0, state.c_str());
}

}  // namespace service
