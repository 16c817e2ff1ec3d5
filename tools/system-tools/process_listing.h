#pragma once

#include "backends/posix/kernel_files/line_safe_name.h"
#include "process_sampling.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::system_tools {

// Recent CPU use of one process, in percent of one CPU.
struct ProcessCpuUse {
    std::int32_t pid = 0;
    double percent = 0;
};

// The CPU use of every process of `newer` over the time since `older`, busiest first, equal
// figures by ascending pid, `excludedPid` left out. A process missing from `older`, or whose
// counter went back (a new process under a reused id), started meanwhile: all its time counts.
// No figure exceeds what `cpuCount` CPUs could give. Nothing when no time passed.
std::vector<ProcessCpuUse> recentCpuUse(const CpuTimeSample& older, const CpuTimeSample& newer,
                                        std::int32_t excludedPid, unsigned cpuCount);

using platform::posix::lineSafeName;

// "  312  12.5 name\n": the line the process-status tool prints for "pid=,pcpu=,comm=".
void appendProcessStatusLine(std::string& out, std::int32_t pid, double percent,
                             std::string_view name);

struct MonitorRow {
    std::int32_t pid = 0;
    std::string name; // already line-safe
    double power = 0;
};

// One sample of the process monitor's log form: a short summary, a blank line, the column
// header ("PID    COMMAND          POWER") and one line per row.
void appendMonitorSample(std::string& out, const std::vector<MonitorRow>& rows,
                         std::size_t processCount, std::string_view wallClock);

} // namespace brivane::system_tools
