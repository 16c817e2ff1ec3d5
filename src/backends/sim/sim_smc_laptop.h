#pragma once

#include "backends/sim/sim_smc.h"
#include "platform/uptime_clock.h"

#include <memory>

namespace brivane::platform::sim {

// The SMC of a simulated Apple-silicon laptop: a few dozen temperature keys (some reading
// zero or out of range), two fans with descriptors, modes and limits, the power keys and
// "#KEY". Temperatures, fan speeds and power figures wander gently with `clock`.
std::shared_ptr<SimSMC> makeSimulatedLaptopSMC(std::shared_ptr<const UptimeClock> clock);

} // namespace brivane::platform::sim
