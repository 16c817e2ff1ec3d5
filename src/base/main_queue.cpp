#include "base/main_queue.h"

#include <utility>

namespace brivane::base {

void MainQueue::async(std::function<void()> work) {
    std::function<void()> wakeUp;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
        wakeUp = wakeUp_;
    }
    if (wakeUp) {
        wakeUp();
    }
}

std::size_t MainQueue::drain() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(pending_);
    }
    for (auto& work : batch) {
        work();
    }
    return batch.size();
}

void MainQueue::setWakeUp(std::function<void()> wakeUp) {
    std::lock_guard lock(mutex_);
    wakeUp_ = std::move(wakeUp);
}

MainQueue& mainQueue() {
    static MainQueue queue;
    return queue;
}

} // namespace brivane::base
