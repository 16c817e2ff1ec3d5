#include "platform/linux/sysfs_ioreport_source.h"

namespace brivane::platform {

std::shared_ptr<IOReportSource> makeDefaultIOReportSource() {
    return std::make_shared<linux_backend::SysfsIOReportSource>("/sys");
}

} // namespace brivane::platform
