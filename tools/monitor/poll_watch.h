#pragma once
// Watches the poll from outside the exchanges: a device that stays silent
// (no reply at all for a minute: wrong address, wiring, power) and a poll
// that makes no progress although replies arrive (no cycle completed within
// five cycle times: the configuration and the device disagree). Each is
// told to the site model as an event and a warning on standard error.
#include <chrono>
#include <cstdint>
#include <string>

#include "monitor_controller.h"

namespace monitor {

struct PollStats;

class PollWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kSilentAfter{60};
    static constexpr std::chrono::minutes kSilentRepeat{10};
    static constexpr int kStallCycles = 5;

    // `minCycle`: the shortest cycle time assumed (the gate between cycles);
    // `system`: the power system watched (its link and stall in the model).
    PollWatch(MonitorController& controller, PollStats& stats, uint8_t address,
              Clock::duration minCycle, std::string system = "");
    // Tests of whole runs shorten the minute of silence (the monitor takes
    // TRM27K_TEST_SILENT_AFTER_MS) rather than wait for it.
    static void SetSilentAfterForTest(Clock::duration after);

    // The line came (back) up: the silence clock starts again.
    void OnLinkUp(Clock::time_point now);
    // An exchange ended with a reply of the device.
    void OnReply(Clock::time_point now);
    void OnCycle(Clock::time_point now);
    // Reports what is due; `step` is where the poll stands.
    void Check(Clock::time_point now, int step);

private:
    void CheckSilent(Clock::time_point now);
    void CheckStalled(Clock::time_point now, int step);

    MonitorController& controller_;
    PollStats& stats_;
    uint8_t address_;
    std::string system_;
    Clock::duration minCycle_;
    Clock::time_point lastReply_;
    Clock::time_point silentReported_{};
    bool silent_ = false;
    Clock::time_point lastCycle_;
    Clock::duration cycleTime_;
    bool repliedSinceCycle_ = false;
    bool stalled_ = false;
};

}  // namespace monitor
