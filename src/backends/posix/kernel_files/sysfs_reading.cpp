#include "backends/posix/kernel_files/sysfs_reading.h"

#include "base/whole_number.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <type_traits>

namespace brivane::platform::posix {
namespace {

constexpr int readFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

thread_local ScopedOpenWatch::Watch openWatch = nullptr;
thread_local void* openWatchContext = nullptr;

bool openAllowed(const char* relative) {
    if (openWatch && !openWatch(openWatchContext, relative)) {
        errno = EIO;
        return false;
    }
    return true;
}

template <class T> std::optional<T> parseWhole(std::string_view text) {
    text = withoutNewline(text);
    // from_chars takes no '+'; a sign must be followed by a digit either way.
    if (std::is_signed_v<T> && !text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return std::nullopt;
    }
    return base::wholeNumber<T>(text);
}

// One read or pread into buffer, repeated only on EINTR; a full buffer is absent.
template <class ReadOnce> FileText readOnce(std::span<char> buffer, ReadOnce&& once) {
    ssize_t got = 0;
    do {
        got = once();
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return {classify(errno), {}};
    if (static_cast<std::size_t>(got) >= buffer.size())
        return {Outcome::absentNow, {}};
    return {Outcome::value, std::string_view(buffer.data(), static_cast<std::size_t>(got))};
}

template <class T> Reading<T> parsed(const FileText& read) {
    if (read.outcome != Outcome::value)
        return {read.outcome, std::nullopt};
    auto value = parseWhole<T>(read.text);
    return {value ? Outcome::value : Outcome::absentNow, value};
}

} // namespace

Outcome classify(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENOTDIR:
        return Outcome::gone;
    case EACCES:
    case EPERM:
        return Outcome::denied;
    default:
        // ENODATA, EAGAIN, EIO, ETIMEDOUT, ENXIO and anything unforeseen: one bad read does
        // not cost the sensor.
        return Outcome::absentNow;
    }
}

ScopedOpenWatch::ScopedOpenWatch(Watch watch, void* context)
    : previous_(openWatch), previousContext_(openWatchContext) {
    openWatch = watch;
    openWatchContext = context;
}

ScopedOpenWatch::~ScopedOpenWatch() {
    openWatch = previous_;
    openWatchContext = previousContext_;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    return parseWhole<std::int64_t>(text);
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
    return parseWhole<std::uint64_t>(text);
}

std::string_view withoutNewline(std::string_view text) {
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    return text;
}

RootedDirectory::RootedDirectory(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

RootedDirectory RootedDirectory::subdirectory(const char* relative) const {
    return RootedDirectory(FileDescriptor(
        fd_.valid() ? ::openat(fd_.get(), relative, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1));
}

int RootedDirectory::openFile(const char* relative) const {
    if (!fd_.valid()) {
        errno = EBADF;
        return -1;
    }
    if (!openAllowed(relative))
        return -1;
    return ::openat(fd_.get(), relative, readFlags);
}

int RootedDirectory::openRegular(const char* relative) const {
    FileDescriptor file(openFile(relative));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0)
        return -1;
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    return file.release();
}

FileText RootedDirectory::readWhole(const char* relative, std::span<char> buffer) const {
    FileDescriptor file(openFile(relative));
    if (!file.valid())
        return {classify(errno), {}};
    return readOnce(buffer, [&] { return ::read(file.get(), buffer.data(), buffer.size()); });
}

std::optional<std::string_view> RootedDirectory::readHead(const char* relative,
                                                          std::span<char> buffer) const {
    FileDescriptor file(openFile(relative));
    if (!file.valid())
        return std::nullopt;
    // /proc files are generated whole on the first read, so one read is enough; a second only
    // to see end of file would cost a quarter more system calls on the hot path.
    ssize_t got = 0;
    do {
        got = ::read(file.get(), buffer.data(), buffer.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return std::nullopt;
    return std::string_view(buffer.data(), static_cast<std::size_t>(got));
}

Reading<std::int64_t> RootedDirectory::readInteger(const char* relative) const {
    std::array<char, 64> buffer;
    return parsed<std::int64_t>(readWhole(relative, buffer));
}

Reading<std::uint64_t> RootedDirectory::readCounter(const char* relative) const {
    std::array<char, 64> buffer;
    return parsed<std::uint64_t>(readWhole(relative, buffer));
}

std::optional<std::string> RootedDirectory::readText(const char* relative,
                                                     std::size_t limit) const {
    FileDescriptor file(openRegular(relative));
    if (!file.valid())
        return std::nullopt;
    std::string text;
    std::array<char, 512> chunk;
    for (;;) {
        ssize_t got = ::read(file.get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return text;
        text.append(chunk.data(), static_cast<std::size_t>(got));
        if (text.size() > limit)
            return std::nullopt;
    }
}

std::unique_ptr<DIR, RootedDirectory::DirectoryCloser>
RootedDirectory::openDirectory(const char* relative) const {
    if (!fd_.valid() || !openAllowed(relative))
        return nullptr;
    FileDescriptor directory(::openat(fd_.get(), relative, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid())
        return nullptr;
    std::unique_ptr<DIR, DirectoryCloser> stream(::fdopendir(directory.get()));
    if (stream)
        directory.release(); // the stream owns it now
    return stream;
}

std::vector<std::string> RootedDirectory::list(const char* relative) const {
    std::vector<std::string> names;
    forEachEntry(relative, [&](std::string_view name) { names.emplace_back(name); });
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> RootedDirectory::linkTarget(const char* relative) const {
    if (!fd_.valid())
        return std::nullopt;
    std::array<char, PATH_MAX> buffer;
    ssize_t got = ::readlinkat(fd_.get(), relative, buffer.data(), buffer.size());
    if (got < 0 || static_cast<std::size_t>(got) >= buffer.size())
        return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(got));
}

KeptValue::KeptValue(const RootedDirectory& root, const char* relative, Pread pread)
    : fd_(root.openRegular(relative)), openError_(fd_.valid() ? 0 : errno), pread_(pread) {}

FileText KeptValue::readInto(std::span<char> buffer) const {
    if (!fd_.valid())
        return {classify(openError_), {}};
    return readOnce(buffer, [&] { return pread_(fd_.get(), buffer.data(), buffer.size(), 0); });
}

Reading<std::int64_t> KeptValue::read() const {
    std::array<char, 64> buffer;
    return parsed<std::int64_t>(readInto(buffer));
}

Reading<std::uint64_t> KeptValue::readCounter() const {
    std::array<char, 64> buffer;
    return parsed<std::uint64_t>(readInto(buffer));
}

} // namespace brivane::platform::posix
