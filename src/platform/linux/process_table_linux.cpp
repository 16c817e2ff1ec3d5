#include "platform/linux/process_table_linux.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace brivane::platform::linux_backend {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// "<pid>/<leaf>" relative to /proc, in a fixed buffer.
struct PidPath {
    std::array<char, 48> text{};

    PidPath(int32_t pid, std::string_view leaf) {
        auto [end, ec] = std::to_chars(text.data(), text.data() + 16, pid);
        (void)ec;
        *end++ = '/';
        for (char c : leaf)
            *end++ = c;
        *end = '\0';
    }
};

// Reads a whole small /proc file into buffer; nothing when it cannot be opened or read.
// Files longer than the buffer are cut, which the callers' formats tolerate.
template <std::size_t N>
std::optional<std::string_view> readSmall(int dirFd, const PidPath& path,
                                          std::array<char, N>& buffer) {
    if (dirFd < 0)
        return std::nullopt;
    FileDescriptor fd(::openat(dirFd, path.text.data(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return std::nullopt;
    // These files are generated whole on the first read, so one read is enough; a second read
    // only to see end of file would cost a quarter more system calls on the hot path.
    ssize_t got = 0;
    do {
        got = ::read(fd.get(), buffer.data(), N);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return std::nullopt;
    return std::string_view(buffer.data(), static_cast<std::size_t>(got));
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

std::string_view nextField(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && isBlank(rest[start]))
        ++start;
    std::size_t end = start;
    while (end < rest.size() && !isBlank(rest[end]))
        ++end;
    std::string_view field = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return field;
}

std::optional<uint64_t> parseUnsigned(std::string_view text) {
    uint64_t value = 0;
    if (text.empty())
        return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<uint64_t> parseStatStartTime(std::string_view stat) {
    // The name in parentheses may itself hold blanks and ')', so fields count from the last ')'.
    std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    // Field 3 (state) is the first after the name; start time is field 22.
    constexpr int fieldsBeforeStartTime = 22 - 3;
    for (int i = 0; i < fieldsBeforeStartTime; ++i) {
        if (nextField(rest).empty())
            return std::nullopt;
    }
    return parseUnsigned(nextField(rest));
}

std::optional<uint64_t> parseStatmAnonymousPages(std::string_view statm) {
    std::string_view rest = statm;
    nextField(rest); // total program size
    auto resident = parseUnsigned(nextField(rest));
    auto shared = parseUnsigned(nextField(rest));
    if (!resident || !shared)
        return std::nullopt;
    return *resident >= *shared ? *resident - *shared : 0;
}

std::optional<ProcIoCounters> parseProcIo(std::string_view io) {
    std::optional<uint64_t> readBytes;
    std::optional<uint64_t> writtenChars;
    while (!io.empty()) {
        std::size_t newline = io.find('\n');
        std::string_view line = io.substr(0, newline);
        io.remove_prefix(newline == std::string_view::npos ? io.size() : newline + 1);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, colon);
        std::string_view rest = line.substr(colon + 1);
        if (key == "read_bytes")
            readBytes = parseUnsigned(nextField(rest));
        else if (key == "wchar")
            writtenChars = parseUnsigned(nextField(rest));
    }
    if (!readBytes || !writtenChars)
        return std::nullopt;
    return ProcIoCounters{*readBytes, *writtenChars};
}

ProcfsProcessTable::ProcfsProcessTable()
    : procFd_(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0)
        pageSize_ = static_cast<uint64_t>(page);
}

ProcfsProcessTable::~ProcfsProcessTable() {
    if (procFd_ >= 0)
        ::close(procFd_);
}

std::vector<int32_t> ProcfsProcessTable::allPids() const {
    std::vector<int32_t> pids;
    std::unique_ptr<DIR, DirCloser> dir(::opendir("/proc"));
    if (!dir)
        return pids;
    pids.reserve(512);
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string_view name(entry->d_name);
        int32_t pid = 0;
        auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec == std::errc{} && end == name.data() + name.size() && pid > 0)
            pids.push_back(pid);
    }
    return pids;
}

std::optional<ProcessResourceUsage> ProcfsProcessTable::resourceUsage(int32_t pid) const {
    if (pid < 1)
        return std::nullopt;
    ProcessResourceUsage usage;
    {
        std::array<char, 1024> buffer;
        auto stat = readSmall(procFd_, PidPath(pid, "stat"), buffer);
        auto startTime = stat ? parseStatStartTime(*stat) : std::nullopt;
        if (!startTime)
            return std::nullopt;
        usage.startedAt = *startTime;
    }
    {
        std::array<char, 256> buffer;
        auto statm = readSmall(procFd_, PidPath(pid, "statm"), buffer);
        auto pages = statm ? parseStatmAnonymousPages(*statm) : std::nullopt;
        if (!pages)
            return std::nullopt;
        usage.footprint = *pages * pageSize_;
    }
    {
        std::array<char, 512> buffer;
        auto io = readSmall(procFd_, PidPath(pid, "io"), buffer);
        auto counters = io ? parseProcIo(*io) : std::nullopt;
        if (!counters)
            return std::nullopt;
        usage.diskBytesRead = counters->readBytes;
        usage.logicalBytesWritten = counters->writtenChars;
    }
    return usage;
}

std::optional<std::string> ProcfsProcessTable::name(int32_t pid) const {
    if (pid < 1)
        return std::nullopt;
    std::array<char, processNameCapacity> buffer;
    auto comm = readSmall(procFd_, PidPath(pid, "comm"), buffer);
    if (!comm)
        return std::nullopt;
    std::string_view text = *comm;
    text = text.substr(0, text.find('\0'));
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    return std::string(text);
}

int32_t ProcfsProcessTable::ownPid() const {
    return static_cast<int32_t>(::getpid());
}
uint32_t ProcfsProcessTable::realUserID() const {
    return ::getuid();
}
uint32_t ProcfsProcessTable::effectiveUserID() const {
    return ::geteuid();
}

} // namespace brivane::platform::linux_backend
