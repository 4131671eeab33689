#pragma once
// Writes the readable summary to standard output on a thread of its own, so
// a reader that stops reading (a full pipe, a terminal paused with Ctrl-S)
// never holds up the poll. Text that would make more than `limit` bytes
// wait is dropped whole; the count of dropped lines is kept and told in
// the output once it moves again.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace summary {

class SummaryWriter {
public:
    static constexpr size_t kDefaultLimit = 64 * 1024;

    // Takes ownership of `fd`.
    explicit SummaryWriter(int fd, size_t limit = kDefaultLimit);
    // Writes what is waiting if the output takes it within a second, then stops.
    ~SummaryWriter();
    SummaryWriter(const SummaryWriter&) = delete;
    SummaryWriter& operator=(const SummaryWriter&) = delete;

    void Write(const std::string& text);
    uint64_t DroppedLines() const { return dropped_; }

private:
    void Run();
    bool WriteOut(const std::string& text);
    bool WaitWritable();

    int fd_;
    size_t limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string pending_;
    uint64_t droppedUntold_ = 0;
    std::atomic<uint64_t> dropped_{0};
    std::atomic<bool> stop_{false};
    std::chrono::steady_clock::time_point giveUpAt_{};
    std::thread thread_;
};

}  // namespace summary
