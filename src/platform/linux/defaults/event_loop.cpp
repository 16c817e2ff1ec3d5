#include "platform/event_loop.h"

#include "platform/linux/event_loop_linux.h"

namespace brivane::platform {

std::unique_ptr<EventLoop> makeDefaultEventLoop() {
    return std::make_unique<linux_backend::EpollEventLoop>();
}

} // namespace brivane::platform
