#pragma once

#include "backends/linux/cpu/summed_counter_group.h"

namespace brivane::platform::linux_backend {

// "CPU Stats" / "CPU Core Idle States": one state channel per online CPU with cpuidle states,
// named like the performance-state channels ("PCPU3"), its states named as the idle driver
// names them ("POLL", "C1", "C1E", "C6"), each holding the CPU's cumulative time there in
// microseconds (cpuidle/stateN/time). These are the cores' own states: the package's are counted
// only in registers that root alone may read, so they are not among them.
inline constexpr std::string_view idleStatesSubgroup = "CPU Core Idle States";
std::vector<SummedChannel> discoverIdleChannels(const posix::RootedDirectory& sys);

// "CPU Stats" / "CPU Thermal Throttling": the thermal throttling Intel processors count
// (cpuN/thermal_throttle/), as simple channels: "<KIND> core throttles" (events) and "<KIND>
// core throttle time" (ms), summed over the kind's cores, each core once (its hardware threads
// repeat its counters), and "package<N> throttles" and "package<N> throttle time" per physical
// package. A time channel is there only where the kernel counts the time (6.0 and later).
inline constexpr std::string_view throttlingSubgroup = "CPU Thermal Throttling";
std::vector<SummedChannel> discoverThrottleChannels(const posix::RootedDirectory& sys);

} // namespace brivane::platform::linux_backend
