#include "platform/linux/ioreport_absent_source.h"

namespace brivane::platform {

std::shared_ptr<IOReportSource> makeDefaultIOReportSource() {
    return std::make_shared<linux_backend::AbsentIOReportSource>();
}

} // namespace brivane::platform
