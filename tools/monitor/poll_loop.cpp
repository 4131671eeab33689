#include "poll_loop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hex_text.h"
#include "local_time.h"
#include "pmbus_frame.h"
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

double Ms(PollLoop::Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The longest frame the line can carry: start, body, end.
constexpr size_t kLongestFrame = host::FrameReceiver::kMaxBody + 2;
// The gate between cycles, the shortest a cycle can be when it holds.
constexpr auto kGate = std::chrono::seconds(2);
}  // namespace

PollLoop::PollLoop(PMBusProtocol& device, LineTransport& line, MonitorController& controller,
                   const PollSettings& settings)
    : device_(device),
      line_(line),
      controller_(controller),
      model_(controller.Model()),
      settings_(settings),
      watch_(controller, stats_, device.Address(),
             settings.shortGate ? Clock::duration(std::chrono::seconds(1)) : kGate) {}

bool PollLoop::Run(const std::atomic<bool>& stop, const std::function<void(long)>& onCycle) {
    cycleStart_ = Clock::now();
    while (!stop && (settings_.cycles < 0 || stats_.cycles < settings_.cycles)) {
        if (line_.Fd() < 0) {
            Reconnect(stop);
            continue;
        }
        std::string lost;
        if (Turn(onCycle, lost)) continue;
        LinkDown(lost);
        if (settings_.exitOnLoss) return false;
    }
    return true;
}

// One pass: send what is due, wait for the line, take what came, end an
// exchange whose time is up. False with a reason when the line is lost.
bool PollLoop::Turn(const std::function<void(long)>& onCycle, std::string& lost) {
    if (!device_.IsProcessing()) StartExchange();
    if (line_.HasHeld() && LineQuiet(Clock::now())) SendHeld();
    if (line_.Failed()) {
        lost = line_.FailReason();
        return false;
    }
    pollfd p{line_.Fd(), POLLIN, 0};
    const int ready = ::poll(&p, 1, WaitMs());
    if (ready < 0 && errno != EINTR) {
        lost = std::string("poll failed: ") + std::strerror(errno);
        return false;
    }
    if (ready > 0) {
        if ((p.revents & POLLIN) == 0) {
            lost = "hang-up";
            return false;
        }
        if (!ReadLine(lost)) return false;
        AfterReply(onCycle);
    }
    CheckTimeout();
    watch_.Check(Clock::now(), device_.Step());
    return true;
}

// The main device decides whether to send; with a short gate it may send at once.
void PollLoop::StartExchange() {
    if (settings_.shortGate) {
        device_.SetUpdateTime(host_local_now() - boost::posix_time::seconds(2));
    }
    const uint64_t before = line_.Writes();
    device_.RefreshStatus();
    if (line_.Writes() != before) exchangeBytes_ = 0;
    // The exchange begins when its command is made, written or held for a
    // quiet line.
    if (device_.IsProcessing()) exchangeStart_ = Clock::now();
}

// A command held for a quiet line goes now. The hold ends after two
// commands, or later while stale bytes keep coming between them.
bool PollLoop::SendHeld() {
    holdLeft_ = bytesWhileHeld_ ? std::max(holdLeft_ - 1, 1) : holdLeft_ - 1;
    bytesWhileHeld_ = false;
    if (holdLeft_ <= 0) line_.SetHold(false);
    exchangeBytes_ = 0;
    return line_.WriteHeld();
}

bool PollLoop::ReadLine(std::string& lost) {
    const ssize_t n = ::read(line_.Fd(), buffer_, sizeof buffer_);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) {
        lost = n == 0 ? "end of file" : std::string("read failed: ") + std::strerror(errno);
        return false;
    }
    stats_.bytesReceived += static_cast<uint64_t>(n);
    lastByte_ = Clock::now();
    Feed(n);
    return true;
}

// Only a command that has left may take bytes; anything else is dropped.
void PollLoop::Feed(ssize_t n) {
    if (!device_.IsProcessing() || line_.HasHeld()) {
        stats_.bytesDiscarded += static_cast<uint64_t>(n);
        bytesWhileHeld_ = bytesWhileHeld_ || line_.HasHeld();
        return;
    }
    if (exchangeBytes_ < kHeadBytes) {
        const size_t take = std::min(kHeadBytes - static_cast<size_t>(exchangeBytes_), static_cast<size_t>(n));
        std::memcpy(exchangeHead_ + exchangeBytes_, buffer_, take);
    }
    exchangeBytes_ += static_cast<uint64_t>(n);
    const uint64_t writes = line_.Writes();
    device_.process(buffer_, static_cast<unsigned int>(n));
    if (device_.IsProcessing() && line_.Writes() == writes && !line_.HasHeld()) return;
    // A reply ended the exchange (the next command may already be out, or
    // held for a quiet line: its exchange begins now).
    lastEnd_ = exchangeStart_ = lastByte_;
    watch_.OnReply(lastByte_);
    ExchangeEnded(true);
}

void PollLoop::ExchangeEnded(bool answered) {
    ++stats_.exchanges;
    if (onExchangeEnd_) onExchangeEnd_(answered);
}

// The cycle's rule batches run before the model hears of its end, so every
// listener sees a cycle's records, rules and alarms before the cycle itself.
void PollLoop::AfterReply(const std::function<void(long)>& onCycle) {
    controller_.BatchPending(device_);
    if (!controller_.TakeCycleEnded()) return;
    ++stats_.cycles;
    watch_.OnCycle(Clock::now());
    if (settings_.markReady) device_.SetDataReady(true);
    controller_.Drain();
    const auto now = Clock::now();
    model_.OnCycleEnd(std::chrono::duration<double>(now - cycleStart_).count(), site::LocalIsoTime(), ResidentKb());
    cycleStart_ = now;
    if (onCycle) onCycle(stats_.cycles);
}

// How long the next wait on the line may last: up to the reply's deadline
// while an exchange is open, so a timeout ends it on time and not a poll
// period later; short while a held command waits for quiet.
int PollLoop::WaitMs() const {
    constexpr int kIdleMs = 50;
    constexpr int kHeldMs = 10;
    if (line_.HasHeld()) return kHeldMs;
    if (!device_.IsProcessing()) return kIdleMs;
    const auto left = std::chrono::ceil<milliseconds>(ReplyDeadline() - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kIdleMs));
}

// The longest an exchange may last, whatever arrives: the first byte's
// time, the longest frame at the line's rate, and one gap.
PollLoop::Clock::duration PollLoop::AbsoluteSpan() const {
    const long long lineMs = static_cast<long long>(kLongestFrame) * 10 * 1000 / settings_.baud;
    return milliseconds(settings_.firstByteMs + lineMs + settings_.gapMs);
}

// A reply must start within the first-byte timeout of its command and may
// not stop for longer than the gap timeout; bytes that keep coming without
// ending a reply cannot push the end past the absolute deadline.
PollLoop::Clock::time_point PollLoop::ReplyDeadline() const {
    const Clock::time_point sent = line_.LastWrite();
    const Clock::time_point absolute = sent + AbsoluteSpan();
    if (exchangeBytes_ == 0 || lastByte_ < sent) return sent + milliseconds(settings_.firstByteMs);
    return std::min(absolute, lastByte_ + milliseconds(settings_.gapMs));
}

// Quiet: no byte for a gap since the last exchange ended, and, after a
// timeout, one more first-byte time gone by: a reply up to twice the timeout
// late then arrives while no command waits and is dropped, instead of
// answering the repeated command and leaving that one's reply to the next.
// A line that is never quiet (noise) holds the poll no longer than an exchange.
bool PollLoop::LineQuiet(Clock::time_point now) const {
    if (now - lastEnd_ >= AbsoluteSpan()) return true;
    const bool gapQuiet = now - std::max(lastByte_, lastEnd_) >= milliseconds(settings_.gapMs);
    return gapQuiet && now - lastTimeout_ >= milliseconds(settings_.firstByteMs);
}

// A reply that does not come in time ends the exchange; the poll goes on.
// The event tells how long the exchange waited, so a reader can tell time
// lost to the line from time the poll itself took. A late reply may still
// come: the next commands wait for a quiet line.
void PollLoop::CheckTimeout() {
    if (!device_.IsProcessing() || line_.HasHeld()) return;
    const auto now = Clock::now();
    if (now < ReplyDeadline()) return;
    ++stats_.timeouts;
    Json::Value v(Json::objectValue);
    v["step"] = device_.Step();
    v["waited_ms"] = Ms(now - std::min(exchangeStart_, line_.LastWrite()));
    v["quiet_wait_ms"] = Ms(std::max(Clock::duration::zero(), line_.LastWrite() - exchangeStart_));
    if (exchangeBytes_ > 0) v["bytes"] = static_cast<Json::UInt64>(exchangeBytes_);
    model_.Report("timeout", std::move(v));
    ReportNoFrame(now);
    device_.process_error();
    lastEnd_ = lastTimeout_ = now;
    holdLeft_ = 2;
    bytesWhileHeld_ = false;
    line_.SetHold(true);
    ExchangeEnded(false);
}

// Bytes came but made no frame (noise, endless starts, a cut reply): one
// frame error for the exchange, not one per byte, with the first bytes.
void PollLoop::ReportNoFrame(Clock::time_point) {
    if (exchangeBytes_ == 0) return;
    Json::Value v(Json::objectValue);
    v["reason"] = "no complete frame";
    v["raw"] = site::HexText(exchangeHead_, std::min<size_t>(kHeadBytes, exchangeBytes_));
    v["bytes"] = static_cast<Json::UInt64>(exchangeBytes_);
    controller_.ReportFrameError(std::move(v));
}

}  // namespace monitor
