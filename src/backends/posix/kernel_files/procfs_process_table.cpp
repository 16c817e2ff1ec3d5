#include "backends/posix/kernel_files/procfs_process_table.h"

#include "backends/posix/kernel_files/proc_fields.h"

#include <unistd.h>

namespace brivane::platform::posix {

std::optional<uint64_t> parseStatStartTime(std::string_view stat) {
    auto rest = statFieldsFrom(stat, 22);
    return rest ? parseUnsigned(nextField(*rest)) : std::nullopt;
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
    std::optional<uint64_t> writeBytes;
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
        else if (key == "write_bytes")
            writeBytes = parseUnsigned(nextField(rest));
    }
    if (!readBytes || !writeBytes)
        return std::nullopt;
    return ProcIoCounters{*readBytes, *writeBytes};
}

ProcfsProcessTable::ProcfsProcessTable(const std::string& procRoot) : proc_(procRoot) {
    long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0)
        pageSize_ = static_cast<uint64_t>(page);
}

std::vector<int32_t> ProcfsProcessTable::allPids() const {
    return processIds(proc_);
}

std::optional<ProcessResourceUsage> ProcfsProcessTable::resourceUsage(int32_t pid) const {
    if (pid < 1)
        return std::nullopt;
    // Each file is read only when the one before it was usable.
    const auto startTime = readParsed<1024>(proc_, pid, "stat", parseStatStartTime);
    if (!startTime)
        return std::nullopt;
    const auto pages = readParsed<256>(proc_, pid, "statm", parseStatmAnonymousPages);
    if (!pages)
        return std::nullopt;
    ProcessResourceUsage usage;
    usage.startedAt = *startTime;
    usage.footprint = *pages * pageSize_;
    // Storage counters only of processes the agent may trace; the others still rank by memory
    // and, with counters that never move, never show storage traffic. A process whose counters
    // turn readable (or unreadable) between two measurements must not count its whole history
    // as one interval's traffic, so without counters it stands as another incarnation.
    if (const auto counters = readParsed<512>(proc_, pid, "io", parseProcIo)) {
        usage.diskBytesRead = counters->readBytes;
        usage.logicalBytesWritten = counters->writeBytes;
    } else {
        usage.startedAt |= uint64_t{1} << 63;
    }
    return usage;
}

std::optional<std::string> ProcfsProcessTable::name(int32_t pid) const {
    if (pid < 1)
        return std::nullopt;
    return readParsed<processNameCapacity>(proc_, pid, "comm", commandName);
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

} // namespace brivane::platform::posix
