#include "platform/linux/hardware_monitor_linux.h"

namespace brivane::platform {

std::shared_ptr<HardwareMonitor> makeDefaultHardwareMonitor() {
    return std::make_shared<linux_backend::LinuxHardwareMonitor>();
}

} // namespace brivane::platform
