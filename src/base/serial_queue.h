#pragma once

#include "base/thread_naming_hook.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace brivane::base {

// A labelled serial executor with a worker thread of its own. Work runs one item at a time in
// the order it was queued. The destructor stops accepting work, runs what is already queued
// and joins the worker, so a reply promised by a queued item is still delivered.
class SerialQueue {
public:
    explicit SerialQueue(std::string label, ThreadPriority priority = ThreadPriority::normal);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    // Queues work and returns at once. Work queued after destruction began is dropped.
    void async(std::function<void()> work);

    // Queues work and waits for it. Must not be called from this queue's own worker.
    void sync(const std::function<void()>& work);

    // True on this queue's worker thread.
    bool isCurrent() const;

    // The thread name for a label: its last dot-separated component, cut to 15 characters.
    static std::string threadName(std::string_view label);

private:
    void runWorker();

    std::string label_;
    ThreadPriority priority_;
    std::mutex mutex_;
    std::condition_variable wakeup_;
    std::deque<std::function<void()>> pending_;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace brivane::base
