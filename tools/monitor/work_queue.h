#pragma once
// The threshold service's worker: runs work items one at a time, in the
// order they were handed over, on its own thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace monitor {

class WorkQueue {
public:
    WorkQueue();
    ~WorkQueue();  // runs what is queued, then stops
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void Post(std::function<void()> work);
    // Waits until every item posted so far has run.
    void Drain();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> items_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace monitor
