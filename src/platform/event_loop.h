#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace brivane::platform {

// A readiness loop over socket handles that runs on one thread. Other threads may only call
// wake() and stop().
class EventLoop {
public:
    enum Event : unsigned { readable = 1, writable = 2, hangUp = 4 };
    using Handler = std::function<void(unsigned events)>;

    virtual ~EventLoop() = default;

    // Registers handle with an interest mask of readable/writable. False on failure.
    virtual bool watch(int handle, unsigned interest, Handler handler) = 0;
    virtual void change(int handle, unsigned interest) = 0;
    // After this, no event of handle reaches its handler, even one already collected.
    virtual void unwatch(int handle) = 0;

    // Runs until stop(); calls the wake handler on the loop thread after every wake().
    virtual void run() = 0;
    virtual void stop() = 0;
    virtual void wake() = 0;
    virtual void setWakeHandler(std::function<void()> handler) = 0;

    // How many rounds of events the loop has collected: handlers that see the same number run
    // in one round, each handle's once at most. Loop thread only.
    virtual std::uint64_t round() const = 0;

    // Runs task once on the loop thread at or after when.
    virtual void runAt(std::chrono::steady_clock::time_point when, std::function<void()> task) = 0;

    // From now on the process's termination requests (SIGTERM, SIGINT, and SIGHUP from a
    // closing terminal or session) call handler on the loop thread instead of ending the
    // process, and a write to a closed pipe fails instead of killing it. Call before any other
    // thread starts: threads inherit what this turns off.
    virtual bool handleTermination(std::function<void()> handler) = 0;
};

// The platform's loop; defined by the back end the executable links.
std::unique_ptr<EventLoop> makeDefaultEventLoop();

// Keeps the process's termination requests pending, in the calling thread and every thread it
// starts, until a loop's handleTermination takes them. An agent calls it before its endpoint
// appears, so a request that comes as soon as a client can see it still ends in an orderly stop.
void holdTerminationRequests();

} // namespace brivane::platform
