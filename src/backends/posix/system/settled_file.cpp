#include "backends/posix/system/settled_file.h"

#include "backends/posix/system/file_descriptor.h"

#include <array>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

constexpr mode_t writableByOthers = S_IWGRP | S_IWOTH;

} // namespace

bool runsAsOrdinaryUser() {
    if (::getuid() == 0 || ::geteuid() == 0) {
        return false;
    }
    const FileDescriptor map(::open("/proc/self/uid_map", O_RDONLY | O_CLOEXEC));
    std::array<char, 256> text{};
    const auto length = map.valid() ? ::read(map.get(), text.data(), text.size() - 1) : -1;
    if (length <= 0) {
        return false;
    }
    // One line mapping every id onto itself.
    std::istringstream lines(std::string(text.data(), static_cast<std::size_t>(length)));
    std::string inside, outside, count, more;
    lines >> inside >> outside >> count;
    return inside == "0" && outside == "0" && count == "4294967295" && !(lines >> more);
}

bool onlyRootCanChange(int fd) {
    struct stat status {};
    struct statvfs mount {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == 0 &&
           status.st_nlink == 1 && (status.st_mode & writableByOthers) == 0 &&
           ::fstatvfs(fd, &mount) == 0 && (mount.f_flag & ST_NOSUID) == 0;
}

bool onlyRootCanRename(const std::string& path) {
    const std::filesystem::path file(path);
    if (!file.is_absolute()) {
        return false;
    }
    for (auto folder = file.parent_path();; folder = folder.parent_path()) {
        struct stat status {};
        if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != 0 ||
            ((status.st_mode & writableByOthers) != 0 && (status.st_mode & S_ISVTX) == 0)) {
            return false;
        }
        if (!folder.has_relative_path()) {
            return true;
        }
    }
}

} // namespace brivane::platform::posix
