#include "poll_loop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "ttime.h"

namespace monitor {

using std::chrono::milliseconds;

namespace {
// Resident memory of this process, from /proc (0 where there is none).
long ResidentKb() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0;
    long pages = 0, resident = 0;
    const bool read = std::fscanf(f, "%ld %ld", &pages, &resident) == 2;
    std::fclose(f);
    return read ? resident * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}
}  // namespace

PollLoop::PollLoop(PMBusProtocol& device, int fd, MonitorController& controller,
                   EventLog& events, const PollSettings& settings)
    : device_(device), fd_(fd), controller_(controller), events_(events), settings_(settings) {}

bool PollLoop::Run(const std::atomic<bool>& stop, const std::function<void(long)>& onCycle) {
    cycleStart_ = Clock::now();
    while (!stop && (settings_.cycles < 0 || stats_.cycles < settings_.cycles)) {
        if (!device_.IsProcessing()) StartExchange();
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, WaitMs());
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0) {
            if ((p.revents & POLLIN) == 0) return false;  // hang-up or error without data
            if (!ReadLine()) return false;
            AfterReply(onCycle);
        }
        CheckTimeout();
    }
    return true;
}

// The main device decides whether to send; with a short gate it may send at once.
void PollLoop::StartExchange() {
    if (settings_.shortGate) {
        device_.SetUpdateTime(host_local_now() - boost::posix_time::seconds(2));
    }
    if (device_.RefreshStatus()) bytesSinceSend_ = false;
}

bool PollLoop::ReadLine() {
    const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    stats_.bytesReceived += static_cast<uint64_t>(n);
    lastByte_ = Clock::now();
    bytesSinceSend_ = true;
    const bool waiting = device_.IsProcessing();
    const auto sentBefore = controller_.LastSend();
    device_.process(buffer_, static_cast<unsigned int>(n));
    // A reply that sent the next command, or that ended the cycle, completed its exchange.
    if (waiting && (controller_.LastSend() != sentBefore || !device_.IsProcessing())) {
        ExchangeEnded(true);
    }
    return true;
}

void PollLoop::ExchangeEnded(bool answered) {
    ++stats_.exchanges;
    if (onExchangeEnd_) onExchangeEnd_(answered);
}

void PollLoop::AfterReply(const std::function<void(long)>& onCycle) {
    controller_.BatchPending(device_);
    if (!controller_.TakeCycleEnded()) return;
    ++stats_.cycles;
    if (settings_.markReady) device_.SetDataReady(true);
    const auto now = Clock::now();
    controller_.Model().OnCycleEnd(std::chrono::duration<double>(now - cycleStart_).count(), LocalIsoTime());
    cycleStart_ = now;
    Json::Value v(Json::objectValue);
    v["count"] = static_cast<Json::Int64>(stats_.cycles);
    v["rss_kb"] = static_cast<Json::Int64>(ResidentKb());
    events_.Write("cycle", std::move(v));
    if (onCycle) onCycle(stats_.cycles);
}

// How long the next wait on the line may last: up to the reply's deadline
// while an exchange is open, so a timeout ends it on time and not a poll
// period later.
int PollLoop::WaitMs() const {
    constexpr int kIdleMs = 50;
    if (!device_.IsProcessing()) return kIdleMs;
    const auto left = std::chrono::ceil<milliseconds>(ReplyDeadline() - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kIdleMs));
}

// A reply must start within the first-byte timeout of its command and may
// not stop for longer than the gap timeout.
PollLoop::Clock::time_point PollLoop::ReplyDeadline() const {
    const Clock::time_point sent = controller_.LastSend();
    return bytesSinceSend_ && lastByte_ > sent ? lastByte_ + milliseconds(settings_.gapMs)
                                               : sent + milliseconds(settings_.firstByteMs);
}

// A reply that does not come in time ends the exchange; the poll goes on.
// The event tells how long the exchange waited, so a reader can tell time
// lost to the line from time the poll itself took.
void PollLoop::CheckTimeout() {
    if (!device_.IsProcessing()) return;
    const auto now = Clock::now();
    if (now < ReplyDeadline()) return;
    ++stats_.timeouts;
    controller_.Model().Add(site::SiteModel::Count::Timeout);
    Json::Value v(Json::objectValue);
    v["step"] = device_.Step();
    v["waited_ms"] = std::chrono::duration<double, std::milli>(now - controller_.LastSend()).count();
    events_.Write("timeout", std::move(v));
    device_.process_error();
    bytesSinceSend_ = false;
    ExchangeEnded(false);
}

}  // namespace monitor
