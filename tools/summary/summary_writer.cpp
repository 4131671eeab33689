#include "summary_writer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace summary {

namespace {
constexpr std::chrono::seconds kGrace{1};
constexpr int kWaitSliceMs = 100;
}  // namespace

SummaryWriter::SummaryWriter(int fd, size_t limit)
    : fd_(fd), limit_(limit), thread_([this] { Run(); }) {}

SummaryWriter::~SummaryWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        giveUpAt_ = std::chrono::steady_clock::now() + kGrace;
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

void SummaryWriter::Write(const std::string& text) {
    const auto lines = static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_.size() + text.size() > limit_) {
            dropped_ += lines;
            droppedUntold_ += lines;
            return;
        }
        if (droppedUntold_ > 0) {
            pending_ += "(" + std::to_string(droppedUntold_) +
                        " summary lines dropped: the output was not read)\n";
            droppedUntold_ = 0;
        }
        pending_ += text;
    }
    wake_.notify_one();
}

void SummaryWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
        if (pending_.empty()) return;
        std::string text;
        text.swap(pending_);
        lock.unlock();
        const bool written = WriteOut(text);
        lock.lock();
        if (!written) return;  // the output is gone or did not move in the grace time
    }
}

// In pieces no larger than a pipe takes at once, each only when the output
// can take it, so the thread is never stuck in a write when the run ends.
bool SummaryWriter::WriteOut(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        if (!WaitWritable()) return false;
        const size_t piece = std::min<size_t>(PIPE_BUF, text.size() - done);
        const ssize_t n = ::write(fd_, text.data() + done, piece);
        if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
        if (n > 0) done += static_cast<size_t>(n);
    }
    return true;
}

bool SummaryWriter::WaitWritable() {
    for (;;) {
        if (stop_ && std::chrono::steady_clock::now() >= giveUpAt_) return false;
        pollfd p{fd_, POLLOUT, 0};
        const int n = ::poll(&p, 1, kWaitSliceMs);
        if (n > 0) return (p.revents & (POLLERR | POLLNVAL)) == 0;
        if (n < 0 && errno != EINTR) return false;
    }
}

}  // namespace summary
