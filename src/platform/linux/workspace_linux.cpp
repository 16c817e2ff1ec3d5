#include "platform/linux/workspace_linux.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace brivane::platform::linux_backend {
namespace {

std::optional<std::string> homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::string(home);
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        return std::string(found->pw_dir);
    }
    return std::nullopt;
}

std::optional<std::string> opener() {
    // Fixed places only: a PATH entry must not decide what runs with a downloaded file.
    for (const char* path : {"/usr/bin/xdg-open", "/usr/local/bin/xdg-open", "/bin/xdg-open"}) {
        if (::access(path, X_OK) == 0) {
            return std::string(path);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> XdgWorkspace::userCachesDirectory() const {
    // Relative values are invalid by the XDG rules and ignored.
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') {
        return std::string(cache);
    }
    if (const auto home = homeDirectory()) {
        return *home + "/.cache";
    }
    return std::nullopt;
}

bool XdgWorkspace::open(const std::string& file) {
    const auto path = opener();
    if (!path) {
        return false;
    }
    ToolRun request;
    request.path = *path;
    request.arguments = {file};
    request.timeLimit = openTimeLimit;
    request.qos = WatchdogQoS::standard;
    return runner_->run(request).succeeded();
}

} // namespace brivane::platform::linux_backend
