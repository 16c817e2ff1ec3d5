#pragma once

#include "platform/endpoint.h"

#include <string>
#include <sys/types.h>

namespace brivane::platform::posix {

// The runtime-directory rule with its inputs made explicit: xdgRuntimeDir is the environment's
// value (may be null), fallbackParent the directory that holds brivane-<uid> ("/tmp").
RuntimeDirectory resolveRuntimeDirectory(const char* xdgRuntimeDir, uid_t uid,
                                         const std::string& fallbackParent);

// True when path is a directory (not a symlink) owned by uid with mode exactly 0700.
bool isPrivateDirectory(const std::string& path, uid_t uid);

// Binds a listening Unix stream socket at path while holding "<path>.lock"; replaces a stale
// socket file, refuses to touch anything else and reports a live listener (one whose backlog
// is full included) or a held lock as alreadyServing.
EndpointOpening listenUnix(const std::string& path);

// The first socket passed by the service manager when LISTEN_PID names this process. It takes
// the variables out of the environment: call it before any thread starts.
EndpointOpening inheritedUnix();

class UnixEndpoints final : public Endpoints {
public:
    RuntimeDirectory runtimeDirectory() override;
    EndpointOpening listenAt(const std::string& path) override { return listenUnix(path); }
    EndpointOpening inherited() override { return inheritedUnix(); }
    std::unique_ptr<StreamSocket> connect(const std::string& path, std::string& problem,
                                          int timeoutMs) override;
    std::uint32_t currentUserId() const override;
};

} // namespace brivane::platform::posix
