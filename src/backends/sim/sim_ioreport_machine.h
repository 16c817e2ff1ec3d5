#pragma once

#include "backends/sim/sim_ioreport_source.h"

namespace brivane::platform::sim {

// Counters of a laptop with 4 efficiency and 6 performance cores: "Energy Model" channels
// for CPU, GPU and neural engine, and per-core performance-state residencies in 24 MHz ticks.
std::shared_ptr<SimIOReportSource>
makeSimulatedMacIOReport(std::shared_ptr<const UptimeClock> clock);

} // namespace brivane::platform::sim
