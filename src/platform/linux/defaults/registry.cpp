#include "platform/linux/registry_linux.h"

namespace brivane::platform {

std::shared_ptr<Registry> makeDefaultRegistry() {
    return std::make_shared<linux_backend::LinuxRegistry>();
}

} // namespace brivane::platform
