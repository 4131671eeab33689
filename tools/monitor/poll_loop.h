#pragma once
// Drives the main device over the line: starts exchanges through
// RefreshStatus, hands received bytes to the protocol base, ends exchanges
// whose reply does not come in time, and reports each completed cycle.
#include <atomic>
#include <chrono>
#include <functional>

#include "PMBusProtocol.h"
#include "event_log.h"
#include "monitor_controller.h"

namespace monitor {

struct PollSettings {
    int firstByteMs = 1000;
    int gapMs = 100;
    bool shortGate = false;   // no 2-second wait between exchanges (tests, soak)
    bool markReady = true;    // the main device counts as ready after its first cycle
    long long cycles = -1;    // stop after this many cycles; -1: never
};

struct PollStats {
    long cycles = 0;
    long timeouts = 0;
    long exchanges = 0;  // ended, by a reply or by their deadline
    uint64_t bytesReceived = 0;
};

class PollLoop {
public:
    PollLoop(PMBusProtocol& device, int fd, MonitorController& controller, EventLog& events,
             const PollSettings& settings);
    // Runs until `stop`, the cycle count, or a lost line (returns false then).
    bool Run(const std::atomic<bool>& stop, const std::function<void(long cycle)>& onCycle);
    const PollStats& Stats() const { return stats_; }
    // Called on the poll thread each time an exchange ends: `answered` when a
    // reply moved the poll on (the next command went out or the cycle ended),
    // false when the reply's deadline passed. The service watchdog is fed
    // from here, so it must stay cheap.
    void OnExchangeEnd(std::function<void(bool answered)> callback) {
        onExchangeEnd_ = std::move(callback);
    }

private:
    using Clock = std::chrono::steady_clock;
    void StartExchange();
    bool ReadLine();
    int WaitMs() const;
    Clock::time_point ReplyDeadline() const;
    void CheckTimeout();
    void ExchangeEnded(bool answered);
    void AfterReply(const std::function<void(long)>& onCycle);

    PMBusProtocol& device_;
    int fd_;
    MonitorController& controller_;
    EventLog& events_;
    PollSettings settings_;
    PollStats stats_;
    std::function<void(bool)> onExchangeEnd_;
    Clock::time_point lastByte_{};
    Clock::time_point cycleStart_{};  // end of the previous cycle: cycles follow one another
    bool bytesSinceSend_ = false;
    uint8_t buffer_[512];
};

}  // namespace monitor
