#pragma once

#include "backends/posix/system/file_descriptor.h"
#include "platform/event_loop.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace brivane::platform::posix {

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread; false when that failed.
bool blockTerminationSignals();

// Level-triggered epoll with an eventfd for wake-ups from other threads, a signalfd for
// termination requests and one-shot timers.
class EpollEventLoop final : public EventLoop {
public:
    EpollEventLoop();

    bool watch(int handle, unsigned interest, Handler handler) override;
    void change(int handle, unsigned interest) override;
    void unwatch(int handle) override;
    void run() override;
    void stop() override;
    void wake() override;
    void setWakeHandler(std::function<void()> handler) override;
    std::uint64_t round() const override { return round_; }
    void runAt(std::chrono::steady_clock::time_point when, std::function<void()> task) override;
    bool handleTermination(std::function<void()> handler) override;

private:
    struct Timer {
        std::chrono::steady_clock::time_point when;
        std::function<void()> task;
    };

    struct Watch {
        std::uint32_t generation;
        unsigned interest;
        std::shared_ptr<Handler> handler;
    };

    void dispatch(std::uint64_t token, std::uint32_t events);
    int msUntilNextTimer() const;
    void runDueTimers();

    FileDescriptor epoll_;
    FileDescriptor wakeEvent_;
    std::unordered_map<int, Watch> watches_;
    std::uint32_t nextGeneration_ = 1;
    std::function<void()> wakeHandler_;
    std::vector<Timer> timers_;
    FileDescriptor signals_;
    std::function<void()> terminationHandler_;
    std::atomic<bool> stopped_{false};
    std::uint64_t round_ = 0;
};

} // namespace brivane::platform::posix
