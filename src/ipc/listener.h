#pragma once

#include "ipc/sensor_service_protocol.h"
#include "platform/endpoint.h"
#include "platform/peer_signature.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::ipc {

using platform::PeerInfo;

// Why a listener could not be created.
enum class ListenerFailure {
    alreadyServing, // a live agent answers on the endpoint: the entry point exits 2
    unsafeRuntimeDirectory,
    systemError,
};

struct ListenerCreation;

// The agent's endpoint: accepts connections, admits peers, decodes requests, hands them to the
// delegate and writes the replies back. Its run loop runs on the calling (main) thread and also
// drains the main queue.
class Listener {
public:
    // Admission hook: called once per accepted connection with the kernel's credentials of the
    // peer, on an admission worker thread (never on the loop, which touches no file for a
    // client: a file system that stops answering holds one worker, not every client), before
    // any byte is read. Returning false, or deciding later than admissionDeadline after the
    // accept, closes the connection silently. The same-user rule is always applied first.
    using Admission = std::function<bool(const PeerInfo&)>;
    // Optional quick verdict, asked first on the same worker: a peer it can decide without
    // hashing (a client program it has already verified) is admitted or refused at once;
    // unknown sends the peer to the admission hook.
    using KnownAdmission = std::function<platform::SignatureVerdict(const PeerInfo&)>;

    // Connections served at once; further ones are closed as soon as they are accepted.
    static constexpr std::size_t maximumConnections = 4096;
    // Connections awaiting their verdict; while this many wait, new ones stay in the backlog.
    static constexpr std::size_t maximumPendingAdmissions = 64;
    static constexpr std::chrono::seconds admissionDeadline{3};
    // How long in-flight requests may still be answered once termination is requested.
    static constexpr std::chrono::seconds terminationGrace{2};

    // The endpoint for a service name: the socket passed by the service manager when there is
    // one (LISTEN_FDS/LISTEN_PID), else <runtime directory>/<serviceName>.
    static ListenerCreation create(std::string_view serviceName);

    // The endpoint at an explicit socket path (its directory is not checked).
    static ListenerCreation atPath(std::string path);

    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void setDelegate(std::shared_ptr<BrivaneSensorSnapshotXPC> delegate);
    void setAdmission(Admission admission, KnownAdmission known = nullptr);

    // Starts accepting connections; before this, clients wait in the backlog.
    void resume();

    // Runs the event loop on this thread until stop(). Returns at once if already stopped.
    void run();

    // Thread-safe; makes run() return after the current iteration.
    void stop();

    // Makes SIGTERM, SIGINT and SIGHUP end run() in order: stop accepting and remove the
    // endpoint, read no further request, tell the delegate to end long work (invalidate),
    // deliver the replies that come within terminationGrace, then close every connection.
    // SIGPIPE is ignored. Call before any other thread is started. False if the platform
    // cannot watch for them.
    bool stopOnTermination();

    // Asks `retire` as each request is taken; once it holds, the listener ends as on a
    // termination request: that request and those in flight are answered, nothing further is
    // accepted or read, and run() returns when every client has hung up (at the latest after
    // terminationGrace).
    void retireWhen(std::function<bool()> retire);

    // The socket path served, empty when the socket came from the service manager.
    const std::string& endpointPath() const;

    // Live connections, for tests and diagnostics (thread-safe).
    std::size_t connectionCount() const;

    class Impl;

private:
    explicit Listener(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    friend struct ListenerCreation;
    friend class ListenerFactory;
};

struct ListenerCreation {
    std::unique_ptr<Listener> listener;
    std::optional<ListenerFailure> failure;
    std::string message; // human-readable detail of the failure
};

} // namespace brivane::ipc
