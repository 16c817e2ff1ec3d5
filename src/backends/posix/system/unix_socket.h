#pragma once

#include "backends/posix/system/file_descriptor.h"
#include "platform/endpoint.h"

#include <string>
#include <sys/types.h>

namespace brivane::platform::posix {

class UnixStreamSocket final : public StreamSocket {
public:
    // Takes a connected, non-blocking socket; reads the peer's credentials once. With
    // `senders`, reads note the pid that wrote the bytes (the socket asked for credentials,
    // connectUnix).
    explicit UnixStreamSocket(FileDescriptor fd, bool senders = false);

    IoResult read(char* into, std::size_t capacity) override;
    IoResult write(const char* from, std::size_t size) override;
    IoResult writeParts(std::string_view head, std::string_view tail) override;
    bool waitReadable(int timeoutMs) override;
    bool waitWritable(int timeoutMs) override;
    int handle() const override { return fd_.get(); }
    std::optional<PeerInfo> peer() const override { return peer_; }
    void releasePeerHandle() override;
    std::optional<PeerInfo> sender() const override { return sender_; }

private:
    IoResult readNotingSender(char* into, std::size_t capacity);

    FileDescriptor fd_;
    FileDescriptor pidfd_;
    std::optional<PeerInfo> peer_;
    bool senders_;
    std::optional<PeerInfo> sender_;
};

class UnixListeningSocket final : public ListeningSocket {
public:
    // removeOnClose: the socket file this process bound, unlinked on destruction while it is
    // still the same file; lock: the held lock file beside it (see lockBeside), removed too.
    UnixListeningSocket(FileDescriptor fd, std::string removeOnClose = {},
                        FileDescriptor lock = {});
    ~UnixListeningSocket() override;

    std::unique_ptr<StreamSocket> accept() override;
    int handle() const override { return fd_.get(); }

private:
    FileDescriptor fd_;
    std::string path_;
    FileDescriptor spare_; // given up to shed a connection when descriptors run out
    FileDescriptor lock_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// Connects to a Unix stream socket at path. The connect never blocks: a listener whose backlog
// is full is tried again until timeoutMs has passed.
std::unique_ptr<StreamSocket> connectUnix(const std::string& path, std::string& problem,
                                          int timeoutMs);

enum class Probe { alive, stale, absent };
// One connect attempt that never waits: a full backlog counts as alive (a stopped agent is
// still an agent).
Probe probeUnix(const std::string& path);

// Takes the lock file "<path>.lock" (created with mode 0600) without waiting. Serialises
// agents that start together.
struct LockAttempt {
    FileDescriptor lock;        // valid when taken
    bool heldElsewhere = false; // another process holds it
    int error = 0;              // why it could not be opened
};
LockAttempt lockBeside(const std::string& path);

} // namespace brivane::platform::posix
