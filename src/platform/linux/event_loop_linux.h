#pragma once

#include "platform/event_loop.h"
#include "platform/linux/file_descriptor.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace brivane::platform::linux_backend {

// Level-triggered epoll with an eventfd for wake-ups from other threads.
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

private:
    struct Watch {
        std::uint32_t generation;
        unsigned interest;
        std::shared_ptr<Handler> handler;
    };

    void dispatch(std::uint64_t token, std::uint32_t events);

    FileDescriptor epoll_;
    FileDescriptor wakeEvent_;
    std::unordered_map<int, Watch> watches_;
    std::uint32_t nextGeneration_ = 1;
    std::function<void()> wakeHandler_;
    std::atomic<bool> stopped_{false};
};

} // namespace brivane::platform::linux_backend
