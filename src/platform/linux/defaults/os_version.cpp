#include "platform/linux/os_version_linux.h"

namespace brivane::platform {

std::shared_ptr<const OperatingSystemVersionSource> makeDefaultOperatingSystemVersionSource() {
    return std::make_shared<linux_backend::OSReleaseVersionSource>();
}

} // namespace brivane::platform
