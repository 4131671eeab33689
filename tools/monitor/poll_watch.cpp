#include "poll_watch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "poll_loop.h"

namespace monitor {

namespace {
std::atomic<PollWatch::Clock::rep> silentAfter{
    std::chrono::duration_cast<PollWatch::Clock::duration>(PollWatch::kSilentAfter).count()};

double Ms(PollWatch::Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}
}  // namespace

void PollWatch::SetSilentAfterForTest(Clock::duration after) { silentAfter = after.count(); }

PollWatch::PollWatch(MonitorController& controller, PollStats& stats,
                     uint8_t address, Clock::duration minCycle, std::string system)
    : controller_(controller),
      stats_(stats),
      address_(address),
      system_(std::move(system)),
      minCycle_(minCycle),
      lastReply_(Clock::now()),
      lastCycle_(lastReply_),
      cycleTime_(minCycle) {}

void PollWatch::OnLinkUp(Clock::time_point now) {
    lastReply_ = now;
    silent_ = false;
}

void PollWatch::OnReply(Clock::time_point now) {
    lastReply_ = now;
    repliedSinceCycle_ = true;
    if (!silent_) return;
    silent_ = false;
    stats_.link = LinkState::Up;
    Json::Value v(Json::objectValue);
    v["state"] = "up";
    v["reason"] = "the device answers again";
    v["address"] = address_;
    controller_.Model().SetSystemLink(system_, true, std::move(v));
}

void PollWatch::OnCycle(Clock::time_point now) {
    cycleTime_ = std::max(minCycle_, now - lastCycle_);
    lastCycle_ = now;
    repliedSinceCycle_ = false;
    if (!stalled_) return;
    stalled_ = false;
    stats_.stalled = false;
    Json::Value v(Json::objectValue);
    v["state"] = "cleared";
    controller_.Model().SetSystemStalled(system_, false, std::move(v));
}

void PollWatch::Check(Clock::time_point now, int step) {
    CheckSilent(now);
    CheckStalled(now, step);
}

// Repeated while the silence lasts, but not more often than every ten
// minutes: enough for an operator, not a flood in the event file.
void PollWatch::CheckSilent(Clock::time_point now) {
    if (now - lastReply_ < Clock::duration(silentAfter.load())) return;
    if (silent_ && now - silentReported_ < kSilentRepeat) return;
    silent_ = true;
    silentReported_ = now;
    stats_.link = LinkState::Silent;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - lastReply_).count();
    std::fprintf(stderr,
                 "trm27k-monitor: warning: no reply from address %u for %lld s "
                 "(check the address, the wiring and the device's power)\n",
                 address_, static_cast<long long>(seconds));
    Json::Value v(Json::objectValue);
    v["state"] = "silent";
    v["address"] = address_;
    v["silent_s"] = static_cast<Json::Int64>(seconds);
    controller_.Model().SetSystemLink(system_, false, std::move(v));
}

// Replies come, but no cycle ends: the plug-in keeps refusing what the
// device sends. Its last protocol line says what disagrees.
void PollWatch::CheckStalled(Clock::time_point now, int step) {
    if (stalled_ || !repliedSinceCycle_ || now - lastCycle_ < kStallCycles * cycleTime_) return;
    const std::string lastLine = controller_.LastLogLine();
    stalled_ = true;
    stats_.stalled = true;
    std::fprintf(stderr, "trm27k-monitor: warning: the poll makes no progress at step %d: %s\n",
                 step, lastLine.empty() ? "the replies are refused" : lastLine.c_str());
    Json::Value v(Json::objectValue);
    v["state"] = "stalled";
    v["step"] = step;
    v["line"] = lastLine;
    v["waited_ms"] = Ms(now - lastCycle_);
    controller_.Model().SetSystemStalled(system_, true, std::move(v));
}

}  // namespace monitor
