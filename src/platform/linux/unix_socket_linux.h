#pragma once

#include "platform/endpoint.h"
#include "platform/linux/file_descriptor.h"

#include <string>
#include <sys/types.h>

namespace brivane::platform::linux_backend {

class UnixStreamSocket final : public StreamSocket {
public:
    // Takes a connected, non-blocking socket; reads the peer's credentials once.
    explicit UnixStreamSocket(FileDescriptor fd);

    IoResult read(char* into, std::size_t capacity) override;
    IoResult write(const char* from, std::size_t size) override;
    bool waitReadable(int timeoutMs) override;
    bool waitWritable(int timeoutMs) override;
    int handle() const override { return fd_.get(); }
    std::optional<PeerInfo> peer() const override { return peer_; }

private:
    FileDescriptor fd_;
    FileDescriptor pidfd_;
    std::optional<PeerInfo> peer_;
};

class UnixListeningSocket final : public ListeningSocket {
public:
    // removeOnClose: the socket file this process bound, unlinked on destruction while it is
    // still the same file.
    UnixListeningSocket(FileDescriptor fd, std::string removeOnClose = {});
    ~UnixListeningSocket() override;

    std::unique_ptr<StreamSocket> accept() override;
    int handle() const override { return fd_.get(); }

private:
    FileDescriptor fd_;
    std::string path_;
    FileDescriptor spare_; // given up to shed a connection when descriptors run out
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// Connects to a Unix stream socket at path (blocking connect, then non-blocking).
std::unique_ptr<StreamSocket> connectUnix(const std::string& path, std::string& problem);

} // namespace brivane::platform::linux_backend
