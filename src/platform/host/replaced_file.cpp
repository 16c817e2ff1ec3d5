#include "platform/host/replaced_file.h"

#include "platform/host/file_descriptor.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>

namespace brivane::platform::host {
namespace {

constexpr std::size_t maximumNameBytes = 255;
constexpr std::string_view suffix = ".XXXXXX";

// Holds the stop signals back on this thread while alive; they arrive when it ends.
class StopSignalsHeld {
public:
    StopSignalsHeld() {
        sigset_t stop;
        sigemptyset(&stop);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            sigaddset(&stop, signal);
        }
        pthread_sigmask(SIG_BLOCK, &stop, &previous_);
    }
    ~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

private:
    sigset_t previous_;
};

int writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return n == 0 ? EIO : errno;
        }
    }
    return 0;
}

// The template's X's replaced by random letters and digits.
std::string randomized(std::string name) {
    static constexpr std::string_view characters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (auto at = name.size() - suffix.size() + 1; at < name.size(); ++at) {
        name[at] = characters[random() % characters.size()];
    }
    return name;
}

// Gives the unnamed file fd a fresh name from the template; errno on failure.
int nameUnnamedFile(int fd, std::string& temporary) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = randomized(temporary);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporary = name;
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
    return EEXIST;
}

} // namespace

std::string temporaryName(std::string_view name) {
    const std::size_t room = maximumNameBytes - 1 - suffix.size();
    return "." + std::string(name.substr(0, room)) + std::string(suffix);
}

std::optional<std::string> replaceFile(const std::string& path, std::string_view text,
                                       mode_t mode) {
    const std::filesystem::path target(path);
    const std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..") {
        return std::string("not a file name");
    }
    const auto folder =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    std::string temporary = (folder / temporaryName(name)).string();

    const StopSignalsHeld held;
    bool named = false;
    FileDescriptor fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!fd.valid()) {
        // Older kernels and some file systems make no unnamed files.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return std::string(std::strerror(errno));
        }
        fd.reset(::mkostemp(temporary.data(), O_CLOEXEC));
        if (!fd.valid()) {
            return std::string(std::strerror(errno));
        }
        named = true;
    }
    int error = ::fchmod(fd.get(), mode) == 0 ? 0 : errno;
    if (error == 0) {
        error = writeAll(fd.get(), text);
    }
    if (error == 0 && ::fsync(fd.get()) != 0) {
        error = errno;
    }
    if (error == 0 && !named) {
        error = nameUnnamedFile(fd.get(), temporary);
        named = error == 0;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error == 0) {
        return std::nullopt;
    }
    if (named) {
        ::unlink(temporary.c_str());
    }
    return std::string(std::strerror(error));
}

} // namespace brivane::platform::host
