#pragma once

#include "backends/linux/cpu/cpu_state_reader.h"
#include "backends/posix/kernel_files/sysfs_reading.h"

#include <vector>

namespace brivane::platform::linux_backend {

// The CPU state channels as found now (cpu_state_channels.h), each with the plan to read it,
// in CPU order; none without /proc/stat. Reads the files once and starts nothing, so that the
// client CLI can name this machine's states without the agent's samplers.
std::vector<CpuStatePlan> discoverCpuStatePlans(const posix::RootedDirectory& sys,
                                                const posix::RootedDirectory& proc,
                                                posix::KeptValue::Pread pread);

} // namespace brivane::platform::linux_backend
