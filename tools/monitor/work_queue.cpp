#include "work_queue.h"

#include <pthread.h>

namespace monitor {

WorkQueue::WorkQueue(size_t capacity)
    : capacity_(capacity > 0 ? capacity : 1), thread_([this] {
          pthread_setname_np(pthread_self(), "thresholds");  // as top -H and ps -L show it
          Run();
      }) {}

WorkQueue::~WorkQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void WorkQueue::Post(std::function<void()> work) {
    std::chrono::steady_clock::duration waited{};
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (items_.size() >= capacity_) {
            const auto start = std::chrono::steady_clock::now();
            room_.wait(lock, [this] { return items_.size() < capacity_; });
            waited = std::chrono::steady_clock::now() - start;
        }
        items_.push_back(std::move(work));
    }
    wake_.notify_one();
    if (waited.count() > 0 && onWait_) onWait_(waited);
}

void WorkQueue::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return items_.empty() && !busy_; });
}

void WorkQueue::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !items_.empty(); });
        if (items_.empty()) return;  // stopping, and nothing left to run
        std::function<void()> work = std::move(items_.front());
        items_.pop_front();
        room_.notify_one();
        busy_ = true;
        lock.unlock();
        work();
        work = nullptr;  // release what the item holds before reporting idle
        lock.lock();
        busy_ = false;
        if (items_.empty()) idle_.notify_all();
    }
}

}  // namespace monitor
