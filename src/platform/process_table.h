#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform {

// The part of a process's resource-usage record (version 6) that the readers use.
struct ProcessResourceUsage {
    // Start time in the platform's own units; differs between two incarnations of one pid.
    uint64_t startedAt = 0;
    // Physical memory footprint in bytes.
    uint64_t footprint = 0;
    // Cumulative bytes read from storage.
    uint64_t diskBytesRead = 0;
    // Cumulative bytes written: the logical-writes counter where the platform keeps one, else
    // the storage writes.
    uint64_t logicalBytesWritten = 0;
};

// The kernel's process table: listing, per-process records and names, and the caller's own
// identity. Calls never throw; a failure is an empty result.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;

    // Every process id the caller may see, in no particular order; empty when the listing
    // itself fails.
    virtual std::vector<int32_t> allPids() const = 0;

    // The process's record, or nothing when it cannot be read (gone, another user's, no
    // permission).
    virtual std::optional<ProcessResourceUsage> resourceUsage(int32_t pid) const = 0;

    // The process's short name as raw bytes (at most 32, cut at the first zero byte), or
    // nothing when there is none. Not guaranteed to be valid UTF-8.
    virtual std::optional<std::string> name(int32_t pid) const = 0;

    virtual int32_t ownPid() const = 0;
    virtual uint32_t realUserID() const = 0;
    virtual uint32_t effectiveUserID() const = 0;
};

// The longest name the name call yields, in bytes.
inline constexpr std::size_t processNameCapacity = 32;

// The platform's table; defined by the back end the executable links.
std::shared_ptr<const ProcessTable> makeDefaultProcessTable();

} // namespace brivane::platform
