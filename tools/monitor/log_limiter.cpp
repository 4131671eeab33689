#include "log_limiter.h"

#include <iterator>

namespace monitor {

bool LogLimiter::Pass(const std::string& line, Clock::time_point now, uint64_t& held) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Lines carry numbers, so distinct lines are many but few at a time:
    // those quiet for a minute are forgotten once the table grows.
    if (seen_.size() >= kMaxLines) {
        for (auto at = seen_.begin(); at != seen_.end();) {
            at = now - at->second.told >= kEvery ? seen_.erase(at) : std::next(at);
        }
    }
    const auto [it, first] = seen_.try_emplace(line, Seen{now, 0});
    Seen& s = it->second;
    held = 0;
    if (first) return true;
    if (now - s.told < kEvery) {
        ++s.held;
        return false;
    }
    held = s.held;
    s = Seen{now, 0};
    return true;
}

}  // namespace monitor
