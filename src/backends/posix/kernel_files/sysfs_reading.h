#pragma once

#include "backends/posix/system/file_descriptor.h"

#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Reading sysfs and /proc under a root directory kept open: every path is relative to it, so
// back ends run unchanged over a fixture tree in tests.
namespace brivane::platform::posix {

// What one read of a kernel file gave.
enum class Outcome {
    value,     // read and parsed
    absentNow, // no value this time; try again next snapshot
    gone,      // the file went away; rediscover
    denied,    // the user may not read it: looking again does not help
};

// The outcome of a failed open or read, by errno.
Outcome classify(int error);

// Watches the opens the calling thread makes under any root while it lives: `watch` hears of
// each before it happens and may refuse it (the open then fails with EIO). A walk over sysfs is
// timed by its single reads this way, and can pass over a device that hung before.
class ScopedOpenWatch {
public:
    using Watch = bool (*)(void* context, const char* relative);
    ScopedOpenWatch(Watch watch, void* context);
    ~ScopedOpenWatch();
    ScopedOpenWatch(const ScopedOpenWatch&) = delete;
    ScopedOpenWatch& operator=(const ScopedOpenWatch&) = delete;

private:
    Watch previous_;
    void* previousContext_;
};

// A whole decimal number: an optional sign, digits, at most one trailing newline, nothing else.
std::optional<std::int64_t> parseInteger(std::string_view text);
// The same for counters: no sign, the full unsigned 64-bit range.
std::optional<std::uint64_t> parseUnsigned(std::string_view text);

// text without one trailing newline.
std::string_view withoutNewline(std::string_view text);

// Bytes read from a file into a caller's buffer; text is only meaningful with Outcome::value.
struct FileText {
    Outcome outcome = Outcome::absentNow;
    std::string_view text;
};

// One value: present with Outcome::value only.
template <class T> struct Reading {
    Outcome outcome = Outcome::absentNow;
    std::optional<T> value;
};

// A directory kept open as the root of relative paths. Calls never throw; a failure is an
// empty result. Relative paths are NUL-terminated and must not start with '/'.
class RootedDirectory {
public:
    RootedDirectory() = default;
    // Opens path (O_RDONLY | O_DIRECTORY | O_CLOEXEC); invalid when it cannot.
    explicit RootedDirectory(const std::string& path);
    explicit RootedDirectory(FileDescriptor directory) : fd_(std::move(directory)) {}

    bool valid() const { return fd_.valid(); }

    // A subdirectory as a root of its own (one hwmon chip, one cpufreq policy).
    RootedDirectory subdirectory(const char* relative) const;

    // Opens a file for reading (O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, so a FIFO planted
    // in the tree cannot hold the caller at open); -1 with errno set on failure.
    int openFile(const char* relative) const;
    // The same, for a regular file only: a FIFO, socket or device node fails with EINVAL.
    int openRegular(const char* relative) const;

    // The whole file in one read. A buffer that comes back full is absent: the file may be
    // longer, and a cut number is another number.
    FileText readWhole(const char* relative, std::span<char> buffer) const;
    // At most buffer.size() bytes from the start, for records whose parsers tolerate a cut.
    std::optional<std::string_view> readHead(const char* relative, std::span<char> buffer) const;
    // One number, opening the file for this read only: for discovery, and for values beyond
    // the number a back end keeps open.
    Reading<std::int64_t> readInteger(const char* relative) const;
    Reading<std::uint64_t> readCounter(const char* relative) const;
    // The whole regular file as a string, for discovery (names, labels); absent past limit bytes.
    std::optional<std::string> readText(const char* relative, std::size_t limit = 4096) const;

    // Entry names of a directory ("." is the root itself), without "." and "..", sorted.
    std::vector<std::string> list(const char* relative) const;
    // Calls visit(std::string_view name) per entry, unsorted and without allocating; false when
    // the directory cannot be opened.
    template <class Visit> bool forEachEntry(const char* relative, Visit&& visit) const {
        auto directory = openDirectory(relative);
        if (!directory)
            return false;
        while (const dirent* entry = ::readdir(directory.get())) {
            std::string_view name(entry->d_name);
            if (name != "." && name != "..")
                visit(name);
        }
        return true;
    }

    // The target of a symbolic link, as stored.
    std::optional<std::string> linkTarget(const char* relative) const;

private:
    struct DirectoryCloser {
        void operator()(DIR* directory) const { ::closedir(directory); }
    };
    std::unique_ptr<DIR, DirectoryCloser> openDirectory(const char* relative) const;

    FileDescriptor fd_;
};

// One hot value file kept open and re-read from offset 0 with a single pread: no shared file
// offset, so concurrent readers are safe, and one system call per read.
class KeptValue {
public:
    using Pread = ssize_t (*)(int fd, void* buffer, std::size_t size, off_t offset);

    KeptValue() = default;
    // Opens the regular file relative under root; pread is replaceable so tests can inject
    // kernel errors.
    KeptValue(const RootedDirectory& root, const char* relative, Pread pread = ::pread);

    bool isOpen() const { return fd_.valid(); }

    // The file's bytes; a buffer that comes back full is absent.
    FileText readInto(std::span<char> buffer) const;
    Reading<std::int64_t> read() const;
    Reading<std::uint64_t> readCounter() const;

private:
    FileDescriptor fd_;
    int openError_ = EBADF;
    Pread pread_ = ::pread;
};

} // namespace brivane::platform::posix
