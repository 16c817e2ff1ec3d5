#include "ipc/admission_workers.h"

#include "base/thread_naming_hook.h"

#include <utility>

namespace brivane::ipc {

AdmissionWorkers::~AdmissionWorkers() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(pending_);
    }
    wakeup_.notify_all();
    for (auto& thread : threads_) {
        thread.join();
    }
}

void AdmissionWorkers::post(std::function<void()> check) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(check));
        if (idle_ == 0 && threads_.size() < capacity_) {
            threads_.emplace_back([this] { run(); });
        }
    }
    wakeup_.notify_one();
}

void AdmissionWorkers::run() {
    base::setCurrentThreadName("Admission");
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        wakeup_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        --idle_;
        if (stopping_) {
            return;
        }
        auto check = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        check();
        check = nullptr;
        lock.lock();
    }
}

} // namespace brivane::ipc
