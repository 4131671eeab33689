#include "sim_loop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>

#include "serial_port.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    std::string bytes;
    Clock::time_point due;
};

enum class ReadResult { Data, Nothing, Closed };

// One read of what is waiting; every reply it calls for joins `queue`.
ReadResult ReadInput(int fd, Simulator& sim, std::vector<OutgoingReply>& fresh,
                     std::deque<Pending>& queue) {
    uint8_t buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return ReadResult::Closed;
    if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? ReadResult::Nothing
                                                                         : ReadResult::Closed;
    }
    fresh.clear();
    sim.Feed(buffer, static_cast<size_t>(n), fresh);
    const Clock::time_point now = Clock::now();
    for (OutgoingReply& reply : fresh) {
        queue.push_back({std::move(reply.bytes), now + std::chrono::milliseconds(reply.delayMs)});
    }
    return ReadResult::Data;
}

// The poll timeout: the usual wait, or less when the next reply is due sooner.
int WaitMs(const std::deque<Pending>& queue, int pollMs) {
    if (queue.empty()) return pollMs;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(queue.front().due - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, pollMs));
}

}  // namespace

LoopEnd RunSimulatorLoop(int fd, Simulator& sim, const LoopOptions& options,
                         const std::atomic<bool>& stop) {
    std::deque<Pending> queue;
    std::vector<OutgoingReply> fresh;
    while (!stop) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, WaitMs(queue, options.pollMs));
        if (ready < 0 && errno != EINTR) return LoopEnd::LineClosed;
        if (ready > 0 && (p.revents & POLLIN) != 0) {
            if (ReadInput(fd, sim, fresh, queue) == ReadResult::Closed) return LoopEnd::LineClosed;
        } else if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return LoopEnd::LineClosed;
        }
        while (!queue.empty() && queue.front().due <= Clock::now() && !stop) {
            const std::string& reply = queue.front().bytes;
            if (!tools::WriteAll(fd, reinterpret_cast<const uint8_t*>(reply.data()), reply.size(),
                                 options.pacedBaud, &stop)) {
                return LoopEnd::WriteFailed;
            }
            queue.pop_front();
        }
        if (options.onWake) options.onWake();
    }
    return LoopEnd::Stopped;
}

}  // namespace sim
