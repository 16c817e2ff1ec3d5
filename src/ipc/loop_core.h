#pragma once

#include "ipc/connection.h"
#include "platform/endpoint.h"
#include "platform/event_loop.h"

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace brivane::ipc {

// A connection back from its admission check.
struct Verdict {
    std::unique_ptr<platform::StreamSocket> stream;
    bool admitted = false;
};

// What other threads share with the listener's loop: its wake-up, the connections to look at
// and the admission verdicts. Held by shared pointer, so a late worker finds it gone.
struct LoopCore {
    std::unique_ptr<platform::EventLoop> loop = platform::makeDefaultEventLoop();
    std::mutex mutex;
    std::vector<std::weak_ptr<Connection>> needingService;
    std::vector<Verdict> verdicts;

    void requestService(std::weak_ptr<Connection> connection) {
        {
            std::lock_guard lock(mutex);
            needingService.push_back(std::move(connection));
        }
        loop->wake();
    }

    void postVerdict(Verdict verdict) {
        {
            std::lock_guard lock(mutex);
            verdicts.push_back(std::move(verdict));
        }
        loop->wake();
    }

    std::vector<std::weak_ptr<Connection>> takeRequests() {
        std::lock_guard lock(mutex);
        return std::exchange(needingService, {});
    }

    std::vector<Verdict> takeVerdicts() {
        std::lock_guard lock(mutex);
        return std::exchange(verdicts, {});
    }
};

} // namespace brivane::ipc
