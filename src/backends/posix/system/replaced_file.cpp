#include "backends/posix/system/replaced_file.h"

#include "backends/posix/system/file_descriptor.h"
#include "base/error_text.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

constexpr std::size_t maximumNameBytes = 255;
constexpr std::string_view suffix = ".XXXXXX";
constexpr std::string_view randomCharacters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
// A writer holds a temporary name only from naming it to renaming it, and writes into a named
// one only where no unnamed file can be made; one this old was left by a writer killed between
// the two (SIGKILL, a crash, a power cut).
constexpr std::time_t staleSeconds = 60;

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
    const std::string_view characters = randomCharacters;
    std::random_device random;
    for (auto at = name.size() - suffix.size() + 1; at < name.size(); ++at) {
        name[at] = characters[random() % characters.size()];
    }
    return name;
}

// Removes the stale temporaries of the target whose template is `temporary` from folder: its
// own (this user's regular files) and old, so that no other writer's, nor a live one's, goes.
void removeStaleTemporaries(int folder, std::string_view temporary) {
    FileDescriptor listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* opened = listing.valid() ? ::fdopendir(listing.get()) : nullptr;
    if (!opened) {
        return;
    }
    listing.release(); // the stream owns it now
    const std::unique_ptr<DIR, int (*)(DIR*)> entries(opened, ::closedir);
    const auto stem = temporary.substr(0, temporary.size() - suffix.size() + 1);
    const std::time_t oldest = std::time(nullptr) - staleSeconds;
    while (const dirent* entry = ::readdir(entries.get())) {
        const std::string_view name(entry->d_name);
        struct stat status {};
        if (name.size() != temporary.size() || !name.starts_with(stem) ||
            name.substr(stem.size()).find_first_not_of(randomCharacters) != name.npos ||
            ::fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() || status.st_mtime > oldest) {
            continue;
        }
        ::unlinkat(folder, entry->d_name, 0);
    }
}

// Links the unnamed file fd into folder as name; errno on failure.
int linkUnnamedFile(int fd, int folder, const std::string& name) {
    if (::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) {
        return 0;
    }
    if (errno != ENOENT && errno != EPERM) {
        return errno;
    }
    // An empty path needs CAP_DAC_READ_SEARCH on older kernels; the descriptor's entry in /proc
    // names the same file, whatever has become of its folder's path.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                          : errno;
}

// A fresh name from the template in folder for the file fd, or, with fd invalid, a new file
// created there under one; errno on failure.
int takeTemporaryName(FileDescriptor& fd, int folder, std::string& temporary, mode_t mode) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = randomized(temporary);
        int error = 0;
        if (fd.valid()) {
            error = linkUnnamedFile(fd.get(), folder, name);
        } else {
            fd.reset(::openat(folder, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            error = fd.valid() ? 0 : errno;
        }
        if (error == 0) {
            temporary = name;
            return 0;
        }
        if (error != EEXIST) {
            return error;
        }
    }
    return EEXIST;
}

} // namespace

std::string temporaryName(std::string_view name) {
    const std::size_t room = maximumNameBytes - 1 - suffix.size();
    return "." + std::string(name.substr(0, room)) + std::string(suffix);
}

std::optional<std::string> replaceFile(const std::string& path, std::string_view text, mode_t mode,
                                       FolderLink folderLink) {
    const std::filesystem::path target(path);
    const std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..") {
        return std::string("not a file name");
    }
    const auto folderPath =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    // Every step below goes through this descriptor, so a folder renamed or replaced meanwhile
    // gets nothing of it, and neither does what now stands at its path.
    const FileDescriptor folder(
        ::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC |
                                       (folderLink == FolderLink::refused ? O_NOFOLLOW : 0)));
    if (!folder.valid()) {
        return errno == ELOOP ? std::string("the folder is a symbolic link")
                              : base::errorText(errno);
    }
    std::string temporary = temporaryName(name);
    removeStaleTemporaries(folder.get(), temporary);

    const StopSignalsHeld held;
    bool named = false;
    FileDescriptor fd(::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!fd.valid()) {
        // Older kernels and some file systems make no unnamed files.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return base::errorText(errno);
        }
        if (const int error = takeTemporaryName(fd, folder.get(), temporary, mode)) {
            return base::errorText(error);
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
        error = takeTemporaryName(fd, folder.get(), temporary, mode);
        named = error == 0;
    }
    if (error == 0 &&
        ::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) != 0) {
        error = errno;
    }
    if (error == 0) {
        return std::nullopt;
    }
    if (named) {
        ::unlinkat(folder.get(), temporary.c_str(), 0);
    }
    return base::errorText(error);
}

} // namespace brivane::platform::posix
