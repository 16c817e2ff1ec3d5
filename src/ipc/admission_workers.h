#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace brivane::ipc {

// A few threads that run peer admission checks away from the event loop, oldest first. Threads
// start on demand; the destructor drops the checks that have not started and joins the rest.
class AdmissionWorkers {
public:
    explicit AdmissionWorkers(std::size_t threads) : capacity_(threads) {}
    ~AdmissionWorkers();

    AdmissionWorkers(const AdmissionWorkers&) = delete;
    AdmissionWorkers& operator=(const AdmissionWorkers&) = delete;

    void post(std::function<void()> check);

private:
    void run();

    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable wakeup_;
    std::deque<std::function<void()>> pending_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace brivane::ipc
