#pragma once

#include "formats/cpu_details_snapshot.h"
#include "metrics_text.h"

#include <vector>

namespace brivane::cli {

// The counters of the CPU details as families: brivane_cpu_idle_state_seconds_total by
// `cluster` and `state`, brivane_cpu_core_throttles_total and
// brivane_cpu_core_throttled_seconds_total by `cluster`, and the package's by `package`.
// Families without samples are left out.
std::vector<MetricFamily> cpuCounterFamilies(const CPUDetailsSnapshot& details);

} // namespace brivane::cli
