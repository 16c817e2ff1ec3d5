#pragma once

#include "ipc/frame_codec.h"
#include "ipc/sensor_service_protocol.h"
#include "platform/endpoint.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace brivane::ipc {

// Requests read but not yet answered on one connection; beyond this the connection is not
// read until replies go out. Small, so one pipelining client cannot fill a work queue ahead of
// everybody else.
inline constexpr std::size_t maximumRequestsInFlight = 32;
// Answered replies waiting for the client to read them. Above the allowance no further
// request of the connection is parsed; above the cap (only reachable with very large
// documents) it is closed.
inline constexpr std::size_t outboundAllowance = 256 * 1024;
inline constexpr std::size_t maximumOutboundBytes = 16 * 1024 * 1024;
// What all connections together may hold. Beyond either figure only a connection that has
// nothing in flight and nothing buffered may start a request (one at a time), so a client
// that reads its answers is never starved by clients that do not.
inline constexpr std::size_t totalRequestsInFlight = 512;
inline constexpr std::size_t totalOutboundBytes = 32 * 1024 * 1024;
// Requests taken from one connection in one round of the loop: the rest wait for the next
// round, after the other connections' (a client that pipelines cannot keep the loop to itself).
inline constexpr std::size_t requestsPerTurn = maximumRequestsInFlight;
// Request bytes read but not parsed yet (mostly partial frames), all connections together.
inline constexpr std::size_t totalInboundBytes = 16 * 1024 * 1024;
// What one connection may hold of them while the shared figures are reached. Every valid
// request is far smaller.
inline constexpr std::size_t smallInbound = 4 * 1024;

// Usage shared by the connections of one listener.
struct ConnectionBudget {
    std::atomic<std::size_t> requestsInFlight{0};
    std::atomic<std::size_t> outboundBytes{0};
    std::atomic<std::size_t> inboundBytes{0};
    std::atomic<std::size_t> waiting{0}; // connections held back by this budget
    std::atomic<bool> draining{false};   // the listener wants to see every reply go out

    bool hasRoom() const {
        return requestsInFlight.load() < totalRequestsInFlight &&
               outboundBytes.load() < totalOutboundBytes && inboundBytes.load() < totalInboundBytes;
    }
};

// One accepted client. The event-loop thread reads and parses; replies arrive from any thread
// and are written under the connection's lock, so a slow client never blocks a work queue.
class Connection {
public:
    // needsService is called (from any thread) when the loop must look at this connection:
    // output left for it to flush, parsing to resume, or the connection to close.
    Connection(std::unique_ptr<platform::StreamSocket> socket,
               std::shared_ptr<ConnectionBudget> budget, std::function<void()> needsService);
    ~Connection();

    int handle() const { return handle_; }
    // The client behind the connection: its process, so that the connections of one program
    // take their turns together.
    std::uint64_t client() const { return client_; }

    enum class ReadOutcome { open, close };
    // May a further request be parsed now, and if not, whose limit holds it back?
    enum class Gate { open, ownLimit, sharedLimit };

    // Loop thread: reads what the socket holds (through scratch, shared by all connections;
    // small reads keep what waits unparsed small) and hands each complete request to dispatch
    // while the gate is open, requestsPerTurn at most in the loop's `round`; requests left
    // buffered then ask for service, in a round to come.
    ReadOutcome readRequests(const std::function<void(Request)>& dispatch, std::span<char> scratch,
                             std::uint64_t round);

    // Loop thread: parses requests already buffered, as readRequests.
    ReadOutcome parseBuffered(const std::function<void(Request)>& dispatch, std::uint64_t round);
    // Loop thread: shared by the requests taken in the current round; the first of them to run
    // on the loop's thread spends it (makeReply).
    const std::shared_ptr<std::atomic<bool>>& roundTurn() const { return roundTurn_; }

    // Loop thread: writes pending output. False when the peer is gone.
    bool flush();

    // Any thread: appends the reply for a request read earlier, and writes what the socket
    // takes. Dropped once the connection is closed.
    void deliver(std::uint32_t id, std::optional<std::string> document);

    // Loop thread: marks the connection closed and closes its socket. Later replies are dropped.
    void close();

    // Loop thread.
    Gate gate() const;
    bool hasBuffered() const { return inboundStart_ < inbound_.size(); }
    bool wantsWrite() const;
    // Nothing in flight and nothing left to write.
    bool isSettled() const;
    bool closeRequested() const;
    bool isClosed() const;

    // Claims the single pending service request (set by needsService callers) for the loop.
    bool takeServiceFlag() { return serviceQueued_.exchange(false); }
    bool markServiceFlag() { return !serviceQueued_.exchange(true); }

    // Loop thread: whether the connection sits in the listener's queue for the shared budget.
    bool waitingForBudget = false;

private:
    // Without the inbound side, which only the loop thread may look at.
    Gate gateLocked(std::size_t inboundHeld) const;
    void countInbound();
    std::size_t pendingLocked() const { return outbound_.size() - outboundStart_; }
    bool writePendingLocked();
    ReadOutcome parse(std::string_view& pending, const std::function<void(Request)>& dispatch);
    ReadOutcome parseBufferedIn(const std::function<void(Request)>& dispatch);
    void startTurn(std::uint64_t round);
    // A turn spent with requests still buffered: the loop comes back to them after the others.
    void comeBackLater();

    std::unique_ptr<platform::StreamSocket> socket_;
    const int handle_;
    const std::uint64_t client_;
    std::shared_ptr<ConnectionBudget> budget_;
    std::function<void()> needsService_;
    std::atomic<bool> serviceQueued_{false};

    // Loop thread only: bytes read but not parsed yet. Empty (no allocation) while idle.
    std::string inbound_;
    std::size_t inboundStart_ = 0;
    std::size_t inboundCounted_ = 0; // what the budget holds for this connection
    std::uint64_t turnRound_ = 0;    // the loop's round of the turn below
    std::size_t turnLeft_ = 0;       // requests it may still take in that round
    std::shared_ptr<std::atomic<bool>> roundTurn_;

    mutable std::mutex mutex_;
    std::string outbound_;
    std::size_t outboundStart_ = 0;
    std::size_t inFlight_ = 0;
    bool closed_ = false;
    bool closeRequested_ = false;
};

// The reply handed to the service for one request: answers at most once; a reply dropped
// without being called answers "no data", so the request's slot is always freed. It is wanted
// while the connection stays open. The requests of one round share `turn`: the first to run on
// the serving thread spends it, and the others take their turns on the service's queues.
ServiceReply makeReply(std::weak_ptr<Connection> connection, std::uint32_t id,
                       std::shared_ptr<std::atomic<bool>> turn = nullptr);

} // namespace brivane::ipc
