#pragma once

#include "ipc/frame_codec.h"
#include "platform/endpoint.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace brivane::ipc {

// Requests read but not yet answered; beyond this the connection is not read until replies go
// out.
inline constexpr std::size_t maximumRequestsInFlight = 256;
// Answered replies waiting for the client to read them. Above the high-water mark the
// connection is not read; above the cap (only reachable with very large documents) it is
// closed so one client cannot hold unbounded memory.
inline constexpr std::size_t outboundHighWater = 1024 * 1024;
inline constexpr std::size_t maximumOutboundBytes = 16 * 1024 * 1024;

// One accepted client. The event-loop thread reads and parses; replies arrive from any thread
// and are written under the connection's lock, so a slow client never blocks a work queue.
class Connection {
public:
    // needsService is called (from any thread) when the loop must look at this connection:
    // output left for it to flush, reading to resume, or the connection to close.
    Connection(std::unique_ptr<platform::StreamSocket> socket, std::function<void()> needsService);

    int handle() const { return handle_; }

    enum class ReadOutcome { open, close };

    // Loop thread: reads what the socket holds and hands each complete request to dispatch.
    // Stops early while the connection is saturated.
    ReadOutcome readRequests(const std::function<void(Request)>& dispatch);

    // Loop thread: parses requests already buffered (after the connection was saturated).
    ReadOutcome parseBuffered(const std::function<void(Request)>& dispatch);

    // Loop thread: writes pending output. False when the peer is gone.
    bool flush();

    // Any thread: appends the reply for a request read earlier, and writes what the socket
    // takes. Dropped once the connection is closed.
    void deliver(std::uint32_t id, std::optional<std::string> document);

    // Loop thread: marks the connection closed and closes its socket. Later replies are dropped.
    void close();

    bool wantsRead() const;
    bool wantsWrite() const;
    bool closeRequested() const;
    bool isClosed() const;

    // Claims the single pending service request (set by needsService callers) for the loop.
    bool takeServiceFlag() { return serviceQueued_.exchange(false); }
    bool markServiceFlag() { return !serviceQueued_.exchange(true); }

private:
    bool saturatedLocked() const;
    bool writePendingLocked();

    std::unique_ptr<platform::StreamSocket> socket_;
    const int handle_;
    std::function<void()> needsService_;
    std::atomic<bool> serviceQueued_{false};

    // Loop thread only.
    std::string inbound_;
    std::size_t inboundStart_ = 0;

    mutable std::mutex mutex_;
    std::string outbound_;
    std::size_t outboundStart_ = 0;
    std::size_t inFlight_ = 0;
    bool closed_ = false;
    bool closeRequested_ = false;
};

// The reply handed to the service for one request: answers at most once; a reply dropped
// without being called answers "no data", so the request's slot is always freed.
std::function<void(std::optional<std::string>)> makeReply(std::weak_ptr<Connection> connection,
                                                          std::uint32_t id);

} // namespace brivane::ipc
