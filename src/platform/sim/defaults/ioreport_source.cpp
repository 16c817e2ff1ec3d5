#include "platform/sim/sim_ioreport_machine.h"

namespace brivane::platform {

std::shared_ptr<IOReportSource> makeDefaultIOReportSource() {
    return sim::makeSimulatedMacIOReport(makeDefaultUptimeClock());
}

} // namespace brivane::platform
