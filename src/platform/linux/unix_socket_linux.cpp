#include "platform/linux/unix_socket_linux.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace brivane::platform::linux_backend {
namespace {

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0;
    }
}

IoStatus statusOf(int error) {
    if (error == EAGAIN || error == EWOULDBLOCK) {
        return IoStatus::wouldBlock;
    }
    if (error == EPIPE || error == ECONNRESET) {
        return IoStatus::closed;
    }
    return IoStatus::failed;
}

} // namespace

UnixStreamSocket::UnixStreamSocket(FileDescriptor fd) : fd_(std::move(fd)) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd_.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
        size == sizeof credentials) {
        PeerInfo info;
        info.pid = credentials.pid;
        info.uid = credentials.uid;
        info.gid = credentials.gid;
        int pidfd = -1;
        socklen_t pidfdSize = sizeof pidfd;
        // Older kernels lack SO_PEERPIDFD; the pid alone is then all there is.
        if (::getsockopt(fd_.get(), SOL_SOCKET, SO_PEERPIDFD, &pidfd, &pidfdSize) == 0 &&
            pidfd >= 0) {
            pidfd_ = FileDescriptor(pidfd);
            info.pidfd = pidfd;
        }
        peer_ = info;
    }
}

IoResult UnixStreamSocket::read(char* into, std::size_t capacity) {
    for (;;) {
        const ssize_t got = ::recv(fd_.get(), into, capacity, 0);
        if (got > 0) {
            return {IoStatus::ok, static_cast<std::size_t>(got)};
        }
        if (got == 0) {
            return {IoStatus::closed, 0};
        }
        if (errno != EINTR) {
            return {statusOf(errno), 0};
        }
    }
}

IoResult UnixStreamSocket::write(const char* from, std::size_t size) {
    for (;;) {
        const ssize_t sent = ::send(fd_.get(), from, size, MSG_NOSIGNAL);
        if (sent >= 0) {
            return {IoStatus::ok, static_cast<std::size_t>(sent)};
        }
        if (errno != EINTR) {
            return {statusOf(errno), 0};
        }
    }
}

bool UnixStreamSocket::waitReadable(int timeoutMs) {
    return waitFor(fd_.get(), POLLIN, timeoutMs);
}

bool UnixStreamSocket::waitWritable(int timeoutMs) {
    return waitFor(fd_.get(), POLLOUT, timeoutMs);
}

UnixListeningSocket::UnixListeningSocket(FileDescriptor fd, std::string removeOnClose)
    : fd_(std::move(fd)), path_(std::move(removeOnClose)),
      spare_(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (!path_.empty() && ::lstat(path_.c_str(), &info) == 0) {
        device_ = info.st_dev;
        inode_ = info.st_ino;
    } else {
        path_.clear();
    }
}

UnixListeningSocket::~UnixListeningSocket() {
    struct stat info {};
    // Another agent may have replaced the file since; leave its socket alone.
    if (!path_.empty() && ::lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ &&
        info.st_ino == inode_) {
        ::unlink(path_.c_str());
    }
}

std::unique_ptr<StreamSocket> UnixListeningSocket::accept() {
    for (;;) {
        const int fd = ::accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            return std::make_unique<UnixStreamSocket>(FileDescriptor(fd));
        }
        if (errno == EMFILE || errno == ENFILE) {
            // Out of descriptors the connection would stay pending and wake the loop forever:
            // free the spare, take the connection and close it at once.
            spare_ = FileDescriptor();
            FileDescriptor(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            spare_ = FileDescriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            return nullptr;
        }
        // A peer that gave up before we accepted it is simply skipped.
        if (errno != EINTR && errno != ECONNABORTED) {
            return nullptr;
        }
    }
}

std::unique_ptr<StreamSocket> connectUnix(const std::string& path, std::string& problem) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        problem = "endpoint path is empty or too long: " + path;
        return nullptr;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        problem = std::string("cannot create a socket: ") + std::strerror(errno);
        return nullptr;
    }
    int result;
    do {
        result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        problem = "cannot connect to " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
    return std::make_unique<UnixStreamSocket>(std::move(fd));
}

} // namespace brivane::platform::linux_backend
