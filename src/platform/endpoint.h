#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::platform {

// What the kernel says about the process at the other end of a connection.
struct PeerInfo {
    std::int64_t pid = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::optional<int> pidfd; // pins the process against pid reuse; owned by the connection
};

enum class IoStatus { ok, wouldBlock, closed, failed };

struct IoResult {
    IoStatus status = IoStatus::failed;
    std::size_t bytes = 0;
};

// A connected, non-blocking byte stream. Closed when destroyed.
class StreamSocket {
public:
    virtual ~StreamSocket() = default;
    virtual IoResult read(char* into, std::size_t capacity) = 0;
    virtual IoResult write(const char* from, std::size_t size) = 0;
    // Writes head, then tail, in one call where the platform can; the bytes taken of both.
    virtual IoResult writeParts(std::string_view head, std::string_view tail) {
        const auto first = write(head.data(), head.size());
        if (first.status != IoStatus::ok || first.bytes < head.size() || tail.empty()) {
            return first;
        }
        const auto second = write(tail.data(), tail.size());
        return {IoStatus::ok, first.bytes + (second.status == IoStatus::ok ? second.bytes : 0)};
    }
    // Waits until the socket is readable (or writable), at most timeoutMs; false on timeout.
    virtual bool waitReadable(int timeoutMs) = 0;
    virtual bool waitWritable(int timeoutMs) = 0;
    // What an event loop watches.
    virtual int handle() const = 0;
    virtual std::optional<PeerInfo> peer() const = 0;
    // Lets go of what pins the peer process (its pidfd) once admission is decided.
    virtual void releasePeerHandle() {}
    // The pid that wrote the bytes of the last read (no pidfd); only on sockets made by
    // Endpoints::connect. A writer may name another process of a pid namespace it owns, so
    // this tells whether the bytes came from the peer, never who the peer is.
    virtual std::optional<PeerInfo> sender() const { return std::nullopt; }
};

// A listening stream socket. Closed (and its socket file removed, if it made one) when
// destroyed.
class ListeningSocket {
public:
    virtual ~ListeningSocket() = default;
    // The next pending connection, non-blocking; nullptr when none is waiting.
    virtual std::unique_ptr<StreamSocket> accept() = 0;
    virtual int handle() const = 0;
};

enum class EndpointError {
    alreadyServing,  // another process accepts connections on the path
    unsafeDirectory, // the runtime directory is missing, foreign, shared or a symlink
    systemError,
};

struct EndpointOpening {
    std::unique_ptr<ListeningSocket> socket;
    std::optional<EndpointError> error;
    std::string message;
};

struct RuntimeDirectory {
    std::optional<std::string> path;
    std::string problem; // why there is none
};

// The operating system's local sockets and the per-user runtime directory.
class Endpoints {
public:
    virtual ~Endpoints() = default;

    // $XDG_RUNTIME_DIR when it is an absolute path to a directory owned by the user with mode
    // 0700, else /tmp/brivane-<uid>, created with mode 0700 and checked before use.
    virtual RuntimeDirectory runtimeDirectory() = 0;

    // Binds and listens at path. A stale socket file is replaced; a live one is alreadyServing.
    virtual EndpointOpening listenAt(const std::string& path) = 0;

    // The socket handed over by the service manager (LISTEN_FDS/LISTEN_PID), if any. It is
    // listened on again, so that clients connecting from then on see this process as its peer.
    virtual EndpointOpening inherited() = 0;

    // Connects to path without ever blocking longer than timeoutMs (a listener that does not
    // accept and whose backlog is full makes the connect wait); nullptr with problem filled
    // when nobody answers in time. Its peer() is the process that last called listen() on the
    // socket, as the kernel recorded it at connect time; sender() names the writer of each read.
    virtual std::unique_ptr<StreamSocket> connect(const std::string& path, std::string& problem,
                                                  int timeoutMs) = 0;

    virtual std::uint32_t currentUserId() const = 0;
};

// The platform's sockets; defined by the back end the executable links.
std::shared_ptr<Endpoints> makeDefaultEndpoints();

} // namespace brivane::platform
