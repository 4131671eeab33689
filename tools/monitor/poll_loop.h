#pragma once
// Drives the main devices of one line (one bus): starts exchanges through
// RefreshStatus, hands received bytes to the protocol base while a command
// waits for them, ends exchanges whose reply does not come in time, reports
// each completed cycle, and brings a lost line back.
//
// Several power systems on one bus share it: one exchange at a time, and the
// line goes to each device in turn, one exchange each. A device's next
// command waits in its seat (BusSeat) until its turn; a device with nothing
// to send (its 2-second gate holds) passes its turn, so a silent one costs
// the others its timeout per round and never starves them. Each device's
// replies are checked against its own address by its protocol base.
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
#include <memory>
#include <string>
#include <vector>

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
    std::atomic<long>* siteCycles = nullptr;  // set: `cycles` counts the cycles of every line
    const std::atomic<bool>* halt = nullptr;  // set: another line ended the run
    std::string port;         // reopened by name, so a by-id link finds the adapter again
};

enum class LinkState { Up, Down, Silent };

// A device's place on the bus: the command its device made waits here, as
// frame bytes, until the bus gives it the line.
class BusSeat : public host::SerialTransport {
public:
    bool Write(const uint8_t* bytes, size_t count) override {
        command_.assign(reinterpret_cast<const char*>(bytes), count);
        ++made_;
        return true;
    }
    bool HasCommand() const { return !command_.empty(); }
    const std::string& Command() const { return command_; }
    void Clear() { command_.clear(); }
    uint64_t Made() const { return made_; }

private:
    std::string command_;
    uint64_t made_ = 0;
};

// One main device on the bus, with its controller (whose transport is
// `seat`) and the name of its power system.
struct BusDevice {
    PMBusProtocol& device;
    MonitorController& controller;
    std::shared_ptr<BusSeat> seat;
    std::string name;  // told in events only when the site has several
};

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

    // `devices` share `line`; their controllers' transports are their seats.
    // All feed the one site model (the first controller's).
    PollLoop(const std::vector<BusDevice>& devices, LineTransport& line, const PollSettings& settings);
    // One device alone on its line (its controller's transport is the line
    // itself until the loop puts a seat in between).
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
    struct Station {
        BusDevice bus;
        PollStats stats;  // its own link and stall state
        PollWatch watch;
        Clock::time_point cycleStart{};  // end of its previous cycle
        Station(const BusDevice& d, Clock::duration minCycle)
            : bus(d), watch(d.controller, stats, d.device.Address(), minCycle, d.controller.System()) {}
    };

    bool Turn(const std::function<void(long)>& onCycle, std::string& lost);
    void Dispatch();
    void StartExchange(Station& s);
    bool SendHeld();
    bool ReadLine(std::string& lost);
    void Feed(ssize_t n);
    int WaitMs() const;
    int GatherMs() const;
    Clock::time_point ReplyDeadline() const;
    Clock::duration AbsoluteSpan() const;
    bool LineQuiet(Clock::time_point now) const;
    void CheckTimeout();
    void ExchangeEnded(bool answered);
    void ReportNoFrame(Clock::time_point now);
    void AfterReply(Station& s, const std::function<void(long)>& onCycle);
    void LinkDown(const std::string& reason);
    void Reconnect(const std::atomic<bool>& stop);
    void SetLinks(bool up, Json::Value event);
    bool CyclesDone() const;
    bool Stopping(const std::atomic<bool>& stop) const {
        return stop || (settings_.halt != nullptr && *settings_.halt);
    }

    std::vector<std::unique_ptr<Station>> stations_;
    Station* active_ = nullptr;     // whose command is on the line (or held for a quiet line)
    Station* timedOut_ = nullptr;   // whose exchange timed out last
    size_t next_ = 0;               // whose turn it is next
    LineTransport& line_;
    site::SiteModel& model_;
    PollSettings settings_;
    PollStats stats_;
    std::function<void(bool)> onExchangeEnd_;
    std::function<void()> onLineWait_;
    Clock::time_point lastByte_{};
    Clock::time_point lastEnd_{};       // when the last exchange ended
    Clock::time_point lastTimeout_{};
    Clock::time_point exchangeStart_{};  // when the open exchange's command was made
    uint64_t exchangeBytes_ = 0;        // received since the command left
    Clock::time_point firstRead_{};     // the exchange's first read ...
    uint64_t firstReadBytes_ = 0;       // ... and how many bytes it took
    static constexpr size_t kHeadBytes = 256;
    uint8_t exchangeHead_[kHeadBytes];  // the first of them, for a frame error
    int holdLeft_ = 0;                  // commands still to wait for a quiet line
    bool bytesWhileHeld_ = false;
    std::chrono::milliseconds backoff_{500};
    uint8_t buffer_[512];
};

}  // namespace monitor
