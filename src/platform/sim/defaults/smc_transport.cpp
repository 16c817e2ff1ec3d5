#include "platform/sim/sim_smc_laptop.h"

namespace brivane::platform {

std::shared_ptr<SMCTransport> makeDefaultSMCTransport() {
    return sim::makeSimulatedLaptopSMC(makeDefaultUptimeClock());
}

} // namespace brivane::platform
