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

PollLoop::PollLoop(const std::vector<BusDevice>& devices, LineTransport& line, const PollSettings& settings)
    : line_(line), model_(devices.front().controller.Model()), settings_(settings) {
    // Devices that share the line take turns: each cycle lasts as many times longer.
    const Clock::duration minCycle =
        (settings.shortGate ? Clock::duration(std::chrono::seconds(1)) : kGate) * static_cast<int>(devices.size());
    for (const BusDevice& d : devices) {
        stations_.push_back(std::make_unique<Station>(d, minCycle));
        d.controller.SetTransport(d.seat);
    }
}

PollLoop::PollLoop(PMBusProtocol& device, LineTransport& line, MonitorController& controller,
                   const PollSettings& settings)
    : PollLoop({BusDevice{device, controller, std::make_shared<BusSeat>(), ""}}, line, settings) {}

bool PollLoop::CyclesDone() const {
    const long done = settings_.siteCycles != nullptr ? settings_.siteCycles->load() : stats_.cycles.load();
    return settings_.cycles >= 0 && done >= settings_.cycles;
}

bool PollLoop::Run(const std::atomic<bool>& stop, const std::function<void(long)>& onCycle) {
    for (auto& s : stations_) s->cycleStart = Clock::now();
    while (!Stopping(stop) && !CyclesDone()) {
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

// One pass: give the line to whoever is due, send what is held, wait for the
// line, take what came, end an exchange whose time is up. False with a
// reason when the line is lost.
bool PollLoop::Turn(const std::function<void(long)>& onCycle, std::string& lost) {
    if (active_ == nullptr) Dispatch();
    if (line_.HasHeld() && LineQuiet(Clock::now())) SendHeld();
    if (line_.Failed()) {
        lost = line_.FailReason();
        return false;
    }
    if (const int gather = GatherMs(); gather > 0) {
        ::poll(nullptr, 0, gather);  // the rest of the reply is on its way
        return true;
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
        Station* replying = active_;
        if (!ReadLine(lost)) return false;
        if (replying != nullptr) AfterReply(*replying, onCycle);
    }
    CheckTimeout();
    const auto now = Clock::now();
    for (auto& s : stations_) s->watch.Check(now, s->bus.device.Step());
    return true;
}

// The line is free: the next device in turn with a command (one it made at
// its last reply, or one RefreshStatus makes now) gets it for one exchange.
// A device whose reply timed out waits one more first-byte time for its
// next command (see LineQuiet); meanwhile the others go first.
void PollLoop::Dispatch() {
    const bool othersFirst = stations_.size() > 1 && timedOut_ != nullptr &&
                             Clock::now() - lastTimeout_ < milliseconds(settings_.firstByteMs);
    for (size_t k = 0; k < stations_.size(); ++k) {
        Station& s = *stations_[(next_ + k) % stations_.size()];
        if (othersFirst && &s == timedOut_) continue;
        if (!s.bus.seat->HasCommand() && !s.bus.device.IsProcessing()) StartExchange(s);
        if (!s.bus.seat->HasCommand()) continue;
        next_ = (next_ + k + 1) % stations_.size();
        active_ = &s;
        // The exchange begins when its command goes to the line, written or
        // held for a quiet line.
        exchangeStart_ = Clock::now();
        exchangeBytes_ = 0;
        line_.DiscardInput();
        const std::string& command = s.bus.seat->Command();
        line_.Write(reinterpret_cast<const uint8_t*>(command.data()), command.size());
        s.bus.seat->Clear();
        return;
    }
}

// The main device decides whether to send; with a short gate it may send at once.
void PollLoop::StartExchange(Station& s) {
    if (settings_.shortGate) {
        s.bus.device.SetUpdateTime(host_local_now() - boost::posix_time::seconds(2));
    }
    s.bus.device.RefreshStatus();
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
    if (active_ == nullptr || line_.HasHeld()) {
        stats_.bytesDiscarded += static_cast<uint64_t>(n);
        bytesWhileHeld_ = bytesWhileHeld_ || line_.HasHeld();
        return;
    }
    if (exchangeBytes_ < kHeadBytes) {
        const size_t take = std::min(kHeadBytes - static_cast<size_t>(exchangeBytes_), static_cast<size_t>(n));
        std::memcpy(exchangeHead_ + exchangeBytes_, buffer_, take);
    }
    if (exchangeBytes_ == 0) {
        firstRead_ = lastByte_;
        firstReadBytes_ = static_cast<uint64_t>(n);
    }
    exchangeBytes_ += static_cast<uint64_t>(n);
    Station& s = *active_;
    const uint64_t made = s.bus.seat->Made();
    s.bus.device.process(buffer_, static_cast<unsigned int>(n));
    if (s.bus.device.IsProcessing() && s.bus.seat->Made() == made) return;
    // A reply ended the exchange (the device's next command, if it made one,
    // waits in its seat for its turn).
    active_ = nullptr;
    lastEnd_ = lastByte_;
    s.watch.OnReply(lastByte_);
    ExchangeEnded(true);
}

void PollLoop::ExchangeEnded(bool answered) {
    ++stats_.exchanges;
    if (onExchangeEnd_) onExchangeEnd_(answered);
}

// The cycle's rule batches run before the model hears of its end, so every
// listener sees a cycle's records, rules and alarms before the cycle itself.
void PollLoop::AfterReply(Station& s, const std::function<void(long)>& onCycle) {
    MonitorController& controller = s.bus.controller;
    controller.BatchPending(s.bus.device);
    if (!controller.TakeCycleEnded()) return;
    ++stats_.cycles;
    if (settings_.siteCycles != nullptr) ++*settings_.siteCycles;
    s.watch.OnCycle(Clock::now());
    if (settings_.markReady) s.bus.device.SetDataReady(true);
    controller.Drain();
    const auto now = Clock::now();
    model_.OnCycleEnd(std::chrono::duration<double>(now - s.cycleStart).count(), site::LocalIsoTime(), ResidentKb(),
                      controller.System());
    s.cycleStart = now;
    if (onCycle) onCycle(stats_.cycles);
}

// How long the next wait on the line may last: up to the reply's deadline
// while an exchange is open, so a timeout ends it on time and not a poll
// period later; short while a held command waits for quiet.
int PollLoop::WaitMs() const {
    constexpr int kIdleMs = 50;
    constexpr int kHeldMs = 10;
    if (line_.HasHeld()) return kHeldMs;
    if (active_ == nullptr) return kIdleMs;
    const auto left = std::chrono::ceil<milliseconds>(ReplyDeadline() - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kIdleMs));
}

// While a reply comes in, the poll sleeps until the rest of its frame can
// have arrived, as its LENGTH tells, instead of waking for every piece the
// serial adapter hands over: a few wake-ups a reply instead of one every few
// milliseconds. The end is reckoned from the first read, which the poll
// takes as soon as it comes, not from later reads that may lag their bytes.
// A line faster than its rate is not waited for. The sleep ends no later
// than half the gap timeout after the last byte, so a reply that stops is
// still noticed in time, and a LENGTH that lies costs at most that.
int PollLoop::GatherMs() const {
    if (active_ == nullptr || line_.HasHeld() || exchangeBytes_ == 0) return 0;
    const size_t frame =
        host::ExpectedFrameBytes(exchangeHead_, static_cast<size_t>(std::min<uint64_t>(kHeadBytes, exchangeBytes_)));
    if (frame <= exchangeBytes_) return 0;
    const double byteSeconds = 10.0 / settings_.baud;
    // Bytes that came faster than the rate allows: no line in between (a
    // simulator unpaced), nothing to wait for.
    const std::chrono::duration<double> carried = lastByte_ - line_.LastWrite();
    if (static_cast<double>(exchangeBytes_) * byteSeconds > carried.count()) return 0;
    const std::chrono::duration<double> rest(static_cast<double>(frame - firstReadBytes_) * byteSeconds);
    const Clock::time_point until =
        std::min({firstRead_ + std::chrono::duration_cast<Clock::duration>(rest),
                  lastByte_ + milliseconds(settings_.gapMs / 2), ReplyDeadline()});
    const auto left = std::chrono::floor<milliseconds>(until - Clock::now()).count();
    return left >= 2 ? static_cast<int>(left) : 0;
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
// Another device's command waits for the gap only: its protocol base drops a
// late reply from the other address, so a device switched off costs the
// others its timeout per round, not twice that.
// A line that is never quiet (noise) holds the poll no longer than an exchange.
bool PollLoop::LineQuiet(Clock::time_point now) const {
    if (now - lastEnd_ >= AbsoluteSpan()) return true;
    const bool gapQuiet = now - std::max(lastByte_, lastEnd_) >= milliseconds(settings_.gapMs);
    if (active_ != timedOut_) return gapQuiet;
    return gapQuiet && now - lastTimeout_ >= milliseconds(settings_.firstByteMs);
}

// A reply that does not come in time ends the exchange; the poll goes on.
// The event tells how long the exchange waited, so a reader can tell time
// lost to the line from time the poll itself took. A late reply may still
// come: the next commands wait for a quiet line.
void PollLoop::CheckTimeout() {
    if (active_ == nullptr || line_.HasHeld()) return;
    const auto now = Clock::now();
    if (now < ReplyDeadline()) return;
    Station& s = *active_;
    ++stats_.timeouts;
    Json::Value v(Json::objectValue);
    v["step"] = s.bus.device.Step();
    if (!s.bus.name.empty()) v["system"] = s.bus.name;
    v["waited_ms"] = Ms(now - std::min(exchangeStart_, line_.LastWrite()));
    v["quiet_wait_ms"] = Ms(std::max(Clock::duration::zero(), line_.LastWrite() - exchangeStart_));
    if (exchangeBytes_ > 0) v["bytes"] = static_cast<Json::UInt64>(exchangeBytes_);
    model_.Report("timeout", std::move(v));
    ReportNoFrame(now);
    active_ = nullptr;
    timedOut_ = &s;
    s.bus.device.process_error();
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
    active_->bus.controller.ReportFrameError(std::move(v));
}

}  // namespace monitor
