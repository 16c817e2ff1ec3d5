#include "backends/posix/system/unix_socket.h"

#include "base/error_text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

// Older C library headers lack it (Linux 6.5).
#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace brivane::platform::posix {
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

UnixStreamSocket::UnixStreamSocket(FileDescriptor fd, bool senders)
    : fd_(std::move(fd)), senders_(senders) {
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

void UnixStreamSocket::releasePeerHandle() {
    pidfd_ = FileDescriptor();
    if (peer_) {
        peer_->pidfd.reset();
    }
}

IoResult UnixStreamSocket::read(char* into, std::size_t capacity) {
    if (senders_) {
        return readNotingSender(into, capacity);
    }
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

// The kernel attaches the writer's credentials to what it delivers, and never joins bytes of two
// writers in one read. Only the pid is kept: a writer that owns its pid namespace may name any
// process of it, so this says who wrote, never who the writer is.
IoResult UnixStreamSocket::readNotingSender(char* into, std::size_t capacity) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(4 * sizeof(int))];
    for (;;) {
        iovec io{into, capacity};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd_.get(), &message, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return {got == 0 ? IoStatus::closed : statusOf(errno), 0};
        }
        std::optional<PeerInfo> writer;
        for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
            if (part->cmsg_level != SOL_SOCKET) {
                continue;
            }
            if (part->cmsg_type == SCM_CREDENTIALS && part->cmsg_len == CMSG_LEN(sizeof(ucred))) {
                ucred credentials{};
                std::memcpy(&credentials, CMSG_DATA(part), sizeof credentials);
                writer = PeerInfo{credentials.pid, credentials.uid, credentials.gid, {}};
            } else if (part->cmsg_type == SCM_RIGHTS) {
                // Descriptors nobody asked for are closed, not kept.
                const std::size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (std::size_t i = 0; i < count; ++i) {
                    int passed = -1;
                    std::memcpy(&passed, CMSG_DATA(part) + i * sizeof(int), sizeof passed);
                    const FileDescriptor unwanted(passed);
                }
            }
        }
        sender_ = writer;
        return {IoStatus::ok, static_cast<std::size_t>(got)};
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

IoResult UnixStreamSocket::writeParts(std::string_view head, std::string_view tail) {
    iovec parts[2] = {{const_cast<char*>(head.data()), head.size()},
                      {const_cast<char*>(tail.data()), tail.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = tail.empty() ? 1 : 2;
    for (;;) {
        const ssize_t sent = ::sendmsg(fd_.get(), &message, MSG_NOSIGNAL);
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

UnixListeningSocket::UnixListeningSocket(FileDescriptor fd, std::string removeOnClose,
                                         FileDescriptor lock)
    : fd_(std::move(fd)), path_(std::move(removeOnClose)),
      spare_(::open("/dev/null", O_RDONLY | O_CLOEXEC)), lock_(std::move(lock)) {
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
    // Removed while still held, so whoever takes the lock next finds a fresh file.
    if (lock_.valid() && !path_.empty()) {
        ::unlink((path_ + ".lock").c_str());
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
            spare_.reset();
            FileDescriptor refused(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            refused.reset();
            spare_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            return nullptr;
        }
        // A peer that gave up before we accepted it is simply skipped.
        if (errno != EINTR && errno != ECONNABORTED) {
            return nullptr;
        }
    }
}

namespace {

bool addressOf(const std::string& path, sockaddr_un& address, std::string& problem) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        problem = "endpoint path is empty or too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// One non-blocking connect: 0 or the errno it ended with.
int connectOnce(int fd, const sockaddr_un& address) {
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

} // namespace

std::unique_ptr<StreamSocket> connectUnix(const std::string& path, std::string& problem,
                                          int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    sockaddr_un address{};
    if (!addressOf(path, address, problem)) {
        return nullptr;
    }
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        problem = std::string("cannot create a socket: ") + base::errorText(errno);
        return nullptr;
    }
    // Before connecting, so that every byte that arrives names its writer.
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        const int error = connectOnce(fd.get(), address);
        if (error == 0) {
            return std::make_unique<UnixStreamSocket>(std::move(fd), true);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (error != EAGAIN || left <= 0) {
            problem = "cannot connect to " + path + ": " +
                      (error == EAGAIN ? "the agent does not accept connections"
                                       : base::errorText(error));
            return nullptr;
        }
        // The listener's backlog is full: it may be busy or stopped. Try again shortly.
        ::poll(nullptr, 0, static_cast<int>(std::min<long long>(left, 10)));
    }
}

Probe probeUnix(const std::string& path) {
    sockaddr_un address{};
    std::string problem;
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!addressOf(path, address, problem) || !fd.valid()) {
        return Probe::absent;
    }
    switch (connectOnce(fd.get(), address)) {
    case 0:
    case EAGAIN:
        return Probe::alive;
    case ECONNREFUSED:
        return Probe::stale;
    default:
        return Probe::absent;
    }
}

LockAttempt lockBeside(const std::string& path) {
    const std::string lockPath = path + ".lock";
    for (;;) {
        FileDescriptor fd(::open(lockPath.c_str(),
                                 O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK,
                                 0600));
        if (!fd.valid()) {
            return {{}, false, errno};
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return {{}, errno == EWOULDBLOCK, errno};
        }
        // The holder before us may have removed the file as we opened it: only a lock on the
        // file that is still there counts.
        struct stat held {};
        struct stat current {};
        if (::fstat(fd.get(), &held) == 0 && ::lstat(lockPath.c_str(), &current) == 0 &&
            held.st_dev == current.st_dev && held.st_ino == current.st_ino) {
            return {std::move(fd)};
        }
    }
}

} // namespace brivane::platform::posix
