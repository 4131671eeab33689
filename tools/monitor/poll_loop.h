#pragma once
// Drives the main device over the line: starts exchanges through
// RefreshStatus, hands received bytes to the protocol base while a command
// waits for them, ends exchanges whose reply does not come in time, reports
// each completed cycle, and brings a lost line back.
//
// An exchange ends at the latest at an absolute deadline (the first-byte
// timeout plus the line time of the longest frame plus a gap), however the
// bytes trickle in. After a timeout the next commands wait for a quiet line
// (and the first of them one more first-byte time, for a late reply).
// A lost line (read or write error, hang-up) is closed and reopened by path
// with a backoff from 0.5 s doubling to 30 s, unless `exitOnLoss`.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "PMBusProtocol.h"
#include "line_transport.h"
#include "monitor_controller.h"
#include "poll_watch.h"

namespace monitor {

struct PollSettings {
    int firstByteMs = 1000;
    int gapMs = 100;
    int baud = 9600;
    bool shortGate = false;   // no 2-second wait between exchanges (tests, soak)
    bool markReady = true;    // the main device counts as ready after its first cycle
    bool exitOnLoss = false;  // a lost line ends the run instead of being reopened
    long long cycles = -1;    // stop after this many cycles; -1: never
    std::string port;         // reopened by name, so a by-id link finds the adapter again
};

enum class LinkState { Up, Down, Silent };

// The poll's counters and state; other threads may read them at any time.
struct PollStats {
    std::atomic<long> cycles{0};
    std::atomic<uint64_t> exchanges{0};       // ended, by a reply or by their deadline
    std::atomic<uint64_t> timeouts{0};
    std::atomic<uint64_t> reconnects{0};
    std::atomic<uint64_t> bytesReceived{0};
    std::atomic<uint64_t> bytesDiscarded{0};  // arrived while no command waited for them
    std::atomic<LinkState> link{LinkState::Up};
    std::atomic<bool> stalled{false};
};

class PollLoop {
public:
    using Clock = std::chrono::steady_clock;

    PollLoop(PMBusProtocol& device, LineTransport& line, MonitorController& controller,
             const PollSettings& settings);
    // Runs until `stop`, the cycle count, or (with exitOnLoss) a lost line,
    // when it returns false.
    bool Run(const std::atomic<bool>& stop, const std::function<void(long cycle)>& onCycle);
    const PollStats& Stats() const { return stats_; }
    // Called on the poll thread each time an exchange ends: `answered` when a
    // reply moved the poll on (the next command went out or the cycle ended),
    // false when the reply's deadline passed. The service watchdog is fed
    // from here, so it must stay cheap.
    void OnExchangeEnd(std::function<void(bool answered)> callback) {
        onExchangeEnd_ = std::move(callback);
    }
    // Called on the poll thread, often, while it waits to reopen a lost
    // line: no exchange can end then, yet the poll is alive.
    void OnLineWait(std::function<void()> callback) { onLineWait_ = std::move(callback); }

private:
    bool Turn(const std::function<void(long)>& onCycle, std::string& lost);
    void StartExchange();
    bool SendHeld();
    bool ReadLine(std::string& lost);
    void Feed(ssize_t n);
    int WaitMs() const;
    Clock::time_point ReplyDeadline() const;
    Clock::duration AbsoluteSpan() const;
    bool LineQuiet(Clock::time_point now) const;
    void CheckTimeout();
    void ExchangeEnded(bool answered);
    void ReportNoFrame(Clock::time_point now);
    void AfterReply(const std::function<void(long)>& onCycle);
    void LinkDown(const std::string& reason);
    void Reconnect(const std::atomic<bool>& stop);

    PMBusProtocol& device_;
    LineTransport& line_;
    MonitorController& controller_;
    site::SiteModel& model_;
    PollSettings settings_;
    PollStats stats_;
    PollWatch watch_;
    std::function<void(bool)> onExchangeEnd_;
    std::function<void()> onLineWait_;
    Clock::time_point lastByte_{};
    Clock::time_point cycleStart_{};  // end of the previous cycle: cycles follow one another
    Clock::time_point lastEnd_{};       // when the last exchange ended
    Clock::time_point lastTimeout_{};
    Clock::time_point exchangeStart_{};  // when the open exchange's command was made
    uint64_t exchangeBytes_ = 0;        // received since the command left
    static constexpr size_t kHeadBytes = 256;
    uint8_t exchangeHead_[kHeadBytes];  // the first of them, for a frame error
    int holdLeft_ = 0;                  // commands still to wait for a quiet line
    bool bytesWhileHeld_ = false;
    std::chrono::milliseconds backoff_{500};
    uint8_t buffer_[512];
};

}  // namespace monitor
