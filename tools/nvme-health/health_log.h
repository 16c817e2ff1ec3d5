#pragma once

// An NVMe controller's SMART / health information log (log page 02h), which only a process with
// CAP_SYS_ADMIN may ask a controller for, and the small text file the root-run reader
// (brivane-nvme-health) writes it into for the disk tool of every user to read.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brivane::system_tools {

struct NvmeHealthLog {
    std::uint64_t readAt = 0; // seconds since 1970
    std::uint64_t criticalWarning = 0;
    std::uint64_t temperatureKelvin = 0; // 0: the controller reports none
    std::uint64_t availableSpare = 0;    // percent
    std::uint64_t spareThreshold = 0;    // percent
    std::uint64_t percentageUsed = 0;    // percent of rated life, may pass 100
    std::uint64_t dataUnitsRead = 0;     // units of 512,000 bytes
    std::uint64_t dataUnitsWritten = 0;
    std::uint64_t powerCycles = 0;
    std::uint64_t powerOnHours = 0;
    std::uint64_t unsafeShutdowns = 0;
    std::uint64_t mediaErrors = 0; // media and data integrity errors
    std::uint64_t errorLogEntries = 0;

    bool operator==(const NvmeHealthLog&) const = default;
};

constexpr std::size_t nvmeHealthLogBytes = 512;

// The log page's fields; 128-bit counters past 64 bits are kept at the largest 64-bit value.
NvmeHealthLog decodeHealthLog(std::span<const std::uint8_t, nvmeHealthLogBytes> page,
                              std::uint64_t readAt);

// "<key> <decimal>" lines, one per field.
std::string formatHealthFile(const NvmeHealthLog& log);
// Every field once, nothing else: anything short of that is no log at all.
std::optional<NvmeHealthLog> parseHealthFile(std::string_view text);

// Files larger than this are not read.
constexpr std::size_t healthFileLimit = 1024;

} // namespace brivane::system_tools
