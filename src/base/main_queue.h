#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace brivane::base {

// Work for the main thread. Any thread may post; the run loop drains it. Until a run loop
// installs its wake-up, posted work simply waits for the next drain.
class MainQueue {
public:
    void async(std::function<void()> work);

    // Runs every item queued before the call (items they queue wait for the next drain).
    // Returns the number of items run. Called by the run loop on the main thread.
    std::size_t drain();

    // Called after each post so a sleeping run loop notices; must be thread-safe and cheap.
    void setWakeUp(std::function<void()> wakeUp);

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
    std::function<void()> wakeUp_;
};

// The process's one main queue.
MainQueue& mainQueue();

} // namespace brivane::base
