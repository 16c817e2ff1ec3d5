#include "platform/linux/bundle_info_linux.h"

namespace brivane::platform {

// The simulated agent is bundled like the real one and reads its own Info.plist.
std::shared_ptr<const BundleInfo> makeDefaultBundleInfo() {
    return linux_backend::runningBundleInfo();
}

} // namespace brivane::platform
