#pragma once
// The threshold service's worker: runs work items one at a time, in the
// order they were handed over, on its own thread. The queue is bounded:
// when storage cannot keep up, Post waits for room (the line is slower than
// any healthy disk, so the poll loses little) instead of letting memory
// grow without end. Items must not Post from the worker itself.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace monitor {

class WorkQueue {
public:
    using WaitHook = std::function<void(std::chrono::steady_clock::duration waited)>;
    static constexpr size_t kDefaultCapacity = 256;

    explicit WorkQueue(size_t capacity = kDefaultCapacity);
    ~WorkQueue();  // runs what is queued, then stops
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Waits while the queue is full.
    void Post(std::function<void()> work);
    // Told after every Post that had to wait for room (on the posting thread).
    void OnWait(WaitHook hook) { onWait_ = std::move(hook); }
    // Waits until every item posted so far has run.
    void Drain();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::condition_variable room_;
    size_t capacity_;
    WaitHook onWait_;
    std::deque<std::function<void()>> items_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace monitor
