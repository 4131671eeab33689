// The poll loop's link supervision: a lost line is reported, closed and
// reopened by its path with a capped exponential backoff.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "poll_loop.h"
#include "serial_port.h"

namespace monitor {

namespace {
constexpr std::chrono::milliseconds kFirstBackoff{500};
constexpr std::chrono::milliseconds kLongestBackoff{30000};
constexpr std::chrono::milliseconds kStopCheck{50};

// Where a path leads now (a by-id link names the adapter's current node).
std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}
}  // namespace

// The exchange in flight ends as after a timeout; the plug-in repeats its
// step once the line is back.
void PollLoop::LinkDown(const std::string& reason) {
    tools::CloseSerialPort(line_.Fd());
    line_.Attach(-1);
    line_.SetHold(false);
    if (active_ != nullptr) active_->bus.device.process_error();
    active_ = nullptr;
    stats_.link = LinkState::Down;
    backoff_ = kFirstBackoff;
    std::fprintf(stderr, "trm27k-monitor: the line %s was lost: %s\n", settings_.port.c_str(),
                 reason.c_str());
    Json::Value v(Json::objectValue);
    v["state"] = "down";
    v["reason"] = reason;
    v["port"] = settings_.port;
    SetLinks(false, std::move(v));
}

// The line's state is every device's on it; the event is told once.
void PollLoop::SetLinks(bool up, Json::Value event) {
    std::vector<std::string> names;
    for (const auto& s : stations_) {
        s->stats.link = up ? LinkState::Up : LinkState::Down;
        names.push_back(s->bus.controller.System());
    }
    model_.SetSystemsLink(names, up, std::move(event));
}

// Waits out the backoff (watching `stop`), then tries the port once.
void PollLoop::Reconnect(const std::atomic<bool>& stop) {
    const auto due = Clock::now() + backoff_;
    while (!Stopping(stop) && Clock::now() < due) {
        if (onLineWait_) onLineWait_();
        std::this_thread::sleep_for(kStopCheck);
    }
    if (Stopping(stop)) return;
    std::string error;
    const int fd = tools::OpenSerialPort(settings_.port, settings_.baud, error);
    if (fd < 0) {
        backoff_ = std::min(backoff_ * 2, kLongestBackoff);
        return;
    }
    line_.Attach(fd);
    ++stats_.reconnects;
    stats_.link = LinkState::Up;
    lastEnd_ = lastByte_ = Clock::now();
    for (auto& s : stations_) s->watch.OnLinkUp(lastEnd_);
    std::fprintf(stderr, "trm27k-monitor: the line %s is back\n", settings_.port.c_str());
    Json::Value v(Json::objectValue);
    v["state"] = "up";
    v["port"] = settings_.port;
    v["device"] = Resolved(settings_.port);  // the reconnect counter counts these
    SetLinks(true, std::move(v));
}

}  // namespace monitor
