#include "platform/linux/smc_transport_linux.h"

namespace brivane::platform {

std::shared_ptr<SMCTransport> makeDefaultSMCTransport() {
    return std::make_shared<linux_backend::LinuxSMCTransport>();
}

} // namespace brivane::platform
