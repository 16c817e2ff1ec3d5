#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::system_tools {

// CPU time a process has run, in nanoseconds: the first field of /proc/<pid>/schedstat.
std::optional<std::uint64_t> parseSchedstatRunTime(std::string_view schedstat);

// utime + stime of /proc/<pid>/stat in clock ticks, counted after the last ')' (the name may
// hold blanks and parentheses). For kernels without schedstat.
std::optional<std::uint64_t> parseStatCpuTicks(std::string_view stat);

struct ProcessCpuTime {
    std::int32_t pid = 0;
    std::uint64_t nanoseconds = 0;
};

// Every process's CPU time at one moment, by ascending pid.
struct CpuTimeSample {
    std::vector<ProcessCpuTime> processes;
    std::uint64_t takenAt = 0; // CLOCK_MONOTONIC, nanoseconds
};

// Reads processes' CPU times and names from a /proc tree given as its root.
class ProcessCpuSampler {
public:
    // procRoot: where procfs is mounted ("/proc").
    explicit ProcessCpuSampler(const std::string& procRoot);

    // Processes that vanish while being read are left out; an unreadable root gives none.
    CpuTimeSample sample() const;

    // The kernel's name of the process (comm) as raw bytes, without its newline; nothing for a
    // process without one.
    std::optional<std::string> name(std::int32_t pid) const;

private:
    std::optional<std::uint64_t> cpuTime(std::int32_t pid) const;

    platform::posix::RootedDirectory proc_;
    std::uint64_t nanosecondsPerTick_ = 10'000'000;
};

} // namespace brivane::system_tools
