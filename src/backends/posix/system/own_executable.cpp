#include "backends/posix/system/own_executable.h"

#include <array>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace brivane::platform::posix {

OwnExecutable::OwnExecutable() {
    std::array<char, PATH_MAX> target{};
    const auto length = ::readlink("/proc/self/exe", target.data(), target.size());
    struct stat status {};
    if (length > 0 && static_cast<std::size_t>(length) < target.size() &&
        ::stat("/proc/self/exe", &status) == 0) {
        path_.assign(target.data(), static_cast<std::size_t>(length));
        running_ = Identity{static_cast<std::uint64_t>(status.st_dev),
                            static_cast<std::uint64_t>(status.st_ino)};
    }
}

bool OwnExecutable::replaced() const {
    if (!running_) {
        return false;
    }
    struct stat present {};
    if (::stat(path_.c_str(), &present) != 0) {
        // Only a missing file counts: a folder we may not search says nothing.
        return errno == ENOENT || errno == ENOTDIR;
    }
    return static_cast<std::uint64_t>(present.st_dev) != running_->device ||
           static_cast<std::uint64_t>(present.st_ino) != running_->inode;
}

} // namespace brivane::platform::posix
