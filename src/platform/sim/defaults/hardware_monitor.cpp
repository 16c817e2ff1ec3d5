#include "platform/hardware_monitor.h"

namespace brivane::platform {

// The simulated Apple-silicon machine reports everything through its SMC.
std::shared_ptr<HardwareMonitor> makeDefaultHardwareMonitor() {
    return std::make_shared<NoHardwareMonitor>();
}

} // namespace brivane::platform
