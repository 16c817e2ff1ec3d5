#pragma once

#include "process_sampling.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace brivane::system_tools {

// The process-status stand-in's output for "-A -c -r -o pid=,pcpu=,comm=": every process but
// `ownPid`, busiest first, with its CPU use over a window of `window` (a recent figure, not a
// lifetime average), one "pid pcpu name" line each.
std::string processStatusOutput(const ProcessCpuSampler& sampler, std::chrono::nanoseconds window,
                                std::int32_t ownPid);

// The process monitor stand-in's output for "-o power -l <samples> -s <seconds> -n <limit>
// -stats pid,command,power": `samples` samples `interval` apart, each of at most `limit`
// processes ordered by the power column. The first sample has no interval behind it and
// shows zeros. The power column is the energy impact: the process's CPU use over the interval
// in percent of one CPU, the same unit whatever powers the machine.
std::string processMonitorOutput(const ProcessCpuSampler& sampler, int samples,
                                 std::chrono::nanoseconds interval, std::size_t limit,
                                 std::int32_t ownPid);

} // namespace brivane::system_tools
