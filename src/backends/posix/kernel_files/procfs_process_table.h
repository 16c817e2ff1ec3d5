#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"
#include "platform/process_table.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace brivane::platform::posix {

// The process table read from /proc.
//
// footprint: resident anonymous memory, taken as (resident - shared) pages of
// /proc/<pid>/statm. Since the kernel keeps separate anonymous, file and shared-memory
// counters, that difference is exactly RssAnon of /proc/<pid>/status, at a fraction of the
// cost: statm is one short line, status is some fifty formatted lines.
// startedAt: start time in clock ticks since boot (field 22 of /proc/<pid>/stat), the top bit
// set for a process without storage counters.
// diskBytesRead / logicalBytesWritten: read_bytes and write_bytes of /proc/<pid>/io, the
// storage traffic (wchar would count pipe, socket and terminal writes too). The kernel shows
// io only to processes allowed to trace the target, so other users' processes report zero
// traffic; statm and stat are world-readable, so every process has a footprint.
class ProcfsProcessTable final : public ProcessTable {
public:
    // procRoot: where procfs is mounted ("/proc").
    explicit ProcfsProcessTable(const std::string& procRoot);

    std::vector<int32_t> allPids() const override;
    std::optional<ProcessResourceUsage> resourceUsage(int32_t pid) const override;
    std::optional<std::string> name(int32_t pid) const override;
    int32_t ownPid() const override;
    uint32_t realUserID() const override;
    uint32_t effectiveUserID() const override;

private:
    RootedDirectory proc_;
    uint64_t pageSize_ = 4096;
};

// Parsers of the /proc files, exposed for tests. Each takes the file's bytes as read.
std::optional<uint64_t> parseStatStartTime(std::string_view stat);
std::optional<uint64_t> parseStatmAnonymousPages(std::string_view statm);
struct ProcIoCounters {
    uint64_t readBytes = 0;
    uint64_t writeBytes = 0;
};
std::optional<ProcIoCounters> parseProcIo(std::string_view io);

} // namespace brivane::platform::posix
