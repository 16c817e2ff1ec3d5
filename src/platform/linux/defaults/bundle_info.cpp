#include "platform/linux/bundle_info_linux.h"

namespace brivane::platform {

std::shared_ptr<const BundleInfo> makeDefaultBundleInfo() {
    return linux_backend::runningBundleInfo();
}

} // namespace brivane::platform
