#pragma once

#include "backends/linux/cpu/cpu_state_reader.h"
#include "backends/linux/cpu/cpu_topology.h"
#include "backends/posix/kernel_files/sysfs_reading.h"

#include <vector>

namespace brivane::platform::linux_backend {

// The online CPUs (devices/system/cpu/online, else every cpuN folder), ascending.
std::vector<int> onlineCpus(const posix::RootedDirectory& sys);

// The kind of each of `online`, in its order (cpu_topology.h says how it is decided).
std::vector<ClusterKind> kindsOf(const posix::RootedDirectory& sys, const std::vector<int>& online);

// The CPU state channels as found now (cpu_state_channels.h), each with the plan to read it,
// in CPU order; none without /proc/stat. Reads the files once and starts nothing, so that the
// client CLI can name this machine's states without the agent's samplers.
std::vector<CpuStatePlan> discoverCpuStatePlans(const posix::RootedDirectory& sys,
                                                const posix::RootedDirectory& proc,
                                                posix::KeptValue::Pread pread);

} // namespace brivane::platform::linux_backend
