#include "backends/posix/system/xdg_workspace.h"

#include "backends/posix/system/spawn_setup.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace brivane::platform::posix {
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

// Starts the opener in a new session (no controlling terminal, outside the agent's process
// group) with its standard streams on /dev/null and default signal handling.
std::optional<pid_t> spawnDetached(const std::string& opener, const std::string& file) {
    SpawnFileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    SpawnAttributes attributes;
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(attributes.get(), &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(attributes.get(), &all);
    posix_spawnattr_setflags(attributes.get(),
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv{const_cast<char*>(opener.c_str()), const_cast<char*>(file.c_str()),
                            nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, opener.c_str(), actions.get(), attributes.get(), argv.data(),
                      environ) != 0) {
        return std::nullopt;
    }
    return pid;
}

// Reports whether the opener exited 0, or true once the limit passes with it still running;
// then keeps waiting so that it is reaped whenever it ends.
void awaitOpener(pid_t pid, double limit, const std::function<void(bool)>& done) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + duration_cast<nanoseconds>(duration<double>(limit));
    int status = 0;
    for (auto pause = 2ms;; pause = std::min(pause * 2, milliseconds(50))) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            done(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            return;
        }
        if (ended < 0 && errno != EINTR) {
            done(false);
            return;
        }
        if (steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(pause);
    }
    done(true);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
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

void XdgWorkspace::open(const std::string& file, std::function<void(bool opened)> done) {
    const auto opener = std::find_if(openers_.begin(), openers_.end(), [](const auto& path) {
        return ::access(path.c_str(), X_OK) == 0;
    });
    const auto pid = opener == openers_.end() ? std::nullopt : spawnDetached(*opener, file);
    if (!pid) {
        done(false);
        return;
    }
    // The caller's thread (the main queue) must not wait for the opener.
    std::thread([pid = *pid, limit = timeLimit_, done = std::move(done)] {
        awaitOpener(pid, limit, done);
    }).detach();
}

} // namespace brivane::platform::posix
