#pragma once
// Repeated diagnostic lines of the plug-in, told once and then counted: a
// device that disagrees with the configuration makes the same line at every
// reply, thousands a second on a fast line. A line is passed the first time
// it is seen; repeats within a minute are held back, and the next one after
// the minute passes with the count of those held back.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace monitor {

class LogLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kEvery{1};
    static constexpr size_t kMaxLines = 256;

    // True when the line is to be told; `held` is then the number of its
    // repeats held back since it was last told.
    bool Pass(const std::string& line, Clock::time_point now, uint64_t& held);

private:
    struct Seen {
        Clock::time_point told;
        uint64_t held = 0;
    };
    std::mutex mutex_;  // the poll thread and the threshold worker both log
    std::map<std::string, Seen> seen_;
};

}  // namespace monitor
