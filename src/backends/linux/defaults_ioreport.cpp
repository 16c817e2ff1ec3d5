// The real machine's counters, a factory of its own: the client CLI links it to name the CPU
// states without the other back ends, whose factories bring the agent's libraries.
#include "backends/linux/gpu/card_activity.h"
#include "backends/linux/sysfs_ioreport_source.h"

namespace brivane::platform {

std::shared_ptr<IOReportSource> makeDefaultIOReportSource() {
    return std::make_shared<linux_backend::SysfsIOReportSource>(
        "/sys", ::pread, "/proc", linux_backend::CpuSampling{},
        linux_backend::SensorPoller::Setup{.demand = linux_backend::SharedDemand::agents(),
                                           .cards = linux_backend::CardActivity::agents()});
}

} // namespace brivane::platform
