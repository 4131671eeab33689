#pragma once
// The monitor's side of systemd's notify protocol (Type=notify services):
// READY=1 once the device is configured, a one-line STATUS=, WATCHDOG=1 only
// while the poll really progresses, STOPPING=1 on a clean stop.
//
// Started without NOTIFY_SOCKET (by hand, from a test, under another
// supervisor) every call does nothing, so the monitor runs as before.
#include <chrono>
#include <string>

namespace service {

class ServiceNotifier {
public:
    using Clock = std::chrono::steady_clock;

    // Reads NOTIFY_SOCKET and the watchdog interval (WATCHDOG_USEC for this
    // process) once; the environment is left as it is.
    ServiceNotifier();

    bool Active() const { return active_; }
    // Zero when the unit has no WatchdogSec= (or it is meant for another process).
    Clock::duration WatchdogInterval() const { return watchdog_; }

    // The device is configured and the poll is about to start.
    void Ready(const std::string& status);
    // Replaces the line `systemctl status` shows.
    void Status(const std::string& status);
    // One exchange with the device ended, so the poll is not hung: keeps the
    // watchdog fed. Sends at most once per quarter of the interval, so the
    // poll thread pays one clock read per exchange and nothing more.
    void Progress(Clock::time_point now = Clock::now());
    // A clean stop has begun.
    void Stopping();

    // Keep-alives actually sent (for tests and the status line).
    long WatchdogSent() const { return watchdogSent_; }

private:
    void Send(const std::string& state) const;

    bool active_ = false;
    Clock::duration watchdog_{};
    Clock::time_point lastKeepAlive_{};
    long watchdogSent_ = 0;
};

}  // namespace service
