#include "backends/posix/system/unix_endpoints.h"

#include "backends/posix/system/unix_socket.h"
#include "base/error_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

constexpr int listenBacklog = 128;
constexpr int firstInheritedDescriptor = 3; // SD_LISTEN_FDS_START

std::string errorText(const std::string& what) {
    return what + ": " + base::errorText(errno);
}

EndpointOpening failure(EndpointError error, std::string message) {
    return {nullptr, error, std::move(message)};
}

// A listener serves up to thousands of connections; the usual soft limit of 1024 descriptors
// would refuse them long before its own cap does.
void raiseDescriptorLimit() {
    constexpr rlim_t wanted = 16384;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < wanted) {
        limit.rlim_cur = std::min(wanted, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

bool isPrivateDirectory(const std::string& path, uid_t uid) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid &&
           (info.st_mode & 07777) == 0700;
}

RuntimeDirectory resolveRuntimeDirectory(const char* xdgRuntimeDir, uid_t uid,
                                         const std::string& fallbackParent) {
    if (xdgRuntimeDir && xdgRuntimeDir[0] == '/' && isPrivateDirectory(xdgRuntimeDir, uid)) {
        return {xdgRuntimeDir, {}};
    }
    const std::string fallback = fallbackParent + "/brivane-" + std::to_string(uid);
    if (::mkdir(fallback.c_str(), 0700) == 0) {
        // The umask may have narrowed the mode; the rule wants exactly 0700.
        ::chmod(fallback.c_str(), 0700);
    } else if (errno != EEXIST) {
        return {std::nullopt, errorText("cannot create " + fallback)};
    }
    if (!isPrivateDirectory(fallback, uid)) {
        return {std::nullopt,
                fallback + " is not a directory of this user with mode 0700 (or is a symlink)"};
    }
    return {fallback, {}};
}

EndpointOpening listenUnix(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return failure(EndpointError::systemError, "endpoint path is empty or too long: " + path);
    }
    std::memcpy(address.sun_path, path.data(), path.size());

    // Only the lock holder may replace the socket file, so two agents starting together
    // cannot remove each other's fresh socket.
    auto attempt = lockBeside(path);
    if (attempt.heldElsewhere) {
        return failure(EndpointError::alreadyServing, "another agent is already serving " + path);
    }
    if (!attempt.lock.valid()) {
        errno = attempt.error;
        return failure(EndpointError::systemError, errorText("cannot lock " + path + ".lock"));
    }
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            return failure(EndpointError::systemError, path + " exists and is not a socket");
        }
        if (probeUnix(path) == Probe::alive) {
            return failure(EndpointError::alreadyServing,
                           "another agent is already serving " + path);
        }
        ::unlink(path.c_str()); // stale: nobody accepts on it any more
    }

    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return failure(EndpointError::systemError, errorText("cannot create a socket"));
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // Lost a race with another agent starting at the same moment.
        if (errno == EADDRINUSE) {
            return failure(EndpointError::alreadyServing,
                           "another agent is already serving " + path);
        }
        return failure(EndpointError::systemError, errorText("cannot bind " + path));
    }
    if (::listen(fd.get(), listenBacklog) != 0) {
        ::unlink(path.c_str());
        return failure(EndpointError::systemError, errorText("cannot listen on " + path));
    }
    raiseDescriptorLimit();
    return {std::make_unique<UnixListeningSocket>(std::move(fd), path, std::move(attempt.lock)),
            std::nullopt,
            {}};
}

EndpointOpening inheritedUnix() {
    const char* pid = std::getenv("LISTEN_PID");
    const char* count = std::getenv("LISTEN_FDS");
    if (!pid || !count || std::strtoll(pid, nullptr, 10) != ::getpid() ||
        std::strtol(count, nullptr, 10) < 1) {
        return {};
    }
    // Children must not believe the sockets are theirs. The agent takes its endpoint before it
    // starts any thread, so nothing reads the environment meanwhile.
    // NOLINTBEGIN(concurrency-mt-unsafe)
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    // NOLINTEND(concurrency-mt-unsafe)

    const int fd = firstInheritedDescriptor;
    int type = 0;
    int listening = 0;
    socklen_t size = sizeof type;
    socklen_t listeningSize = sizeof listening;
    sockaddr_un address{};
    socklen_t addressSize = sizeof address;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM ||
        ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &listeningSize) != 0 ||
        !listening || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressSize) != 0 ||
        address.sun_family != AF_UNIX) {
        return failure(EndpointError::systemError,
                       "the service manager passed no listening Unix stream socket");
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // The kernel gives a connecting client the credentials of whoever called listen() last;
    // until now that is the service manager, which clients do not believe.
    if (::listen(fd, SOMAXCONN) != 0) {
        return failure(EndpointError::systemError, errorText("cannot listen on the passed socket"));
    }
    raiseDescriptorLimit();
    return {std::make_unique<UnixListeningSocket>(FileDescriptor(fd)), std::nullopt, {}};
}

RuntimeDirectory UnixEndpoints::runtimeDirectory() {
    return resolveRuntimeDirectory(std::getenv("XDG_RUNTIME_DIR"), ::getuid(), "/tmp");
}

std::unique_ptr<StreamSocket> UnixEndpoints::connect(const std::string& path, std::string& problem,
                                                     int timeoutMs) {
    return connectUnix(path, problem, timeoutMs);
}

std::uint32_t UnixEndpoints::currentUserId() const {
    return ::getuid();
}

} // namespace brivane::platform::posix
