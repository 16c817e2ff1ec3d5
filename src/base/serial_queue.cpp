#include "base/serial_queue.h"

#include "base/thread_naming_hook.h"

#include <future>
#include <utility>

namespace brivane::base {

SerialQueue::SerialQueue(std::string label, ThreadPriority priority)
    : label_(std::move(label)), priority_(priority) {
    worker_ = std::thread([this] { runWorker(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wakeup_.notify_one();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        pending_.push_back(std::move(work));
    }
    wakeup_.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
    std::promise<void> done;
    async([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == worker_.get_id();
}

std::string SerialQueue::threadName(std::string_view label) {
    const auto dot = label.rfind('.');
    auto tail = dot == std::string_view::npos ? label : label.substr(dot + 1);
    return std::string(tail.substr(0, 15));
}

void SerialQueue::runWorker() {
    setCurrentThreadName(threadName(label_));
    setCurrentThreadPriority(priority_);
    std::unique_lock lock(mutex_);
    for (;;) {
        wakeup_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) {
            return; // stopping and drained
        }
        auto work = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        work();
        work = nullptr; // release captures outside the lock, before the next item
        lock.lock();
    }
}

} // namespace brivane::base
