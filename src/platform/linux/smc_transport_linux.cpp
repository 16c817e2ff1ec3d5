#include "platform/linux/smc_transport_linux.h"

namespace brivane::platform::linux_backend {

SMCOpenResult LinuxSMCTransport::open() {
    return {0, SMCOpenFailure{SMCOpenStep::iteratorNext, kIOReturnSuccess}};
}

KernReturn LinuxSMCTransport::call(std::uint32_t, std::uint32_t, SMCInputBlock, SMCOutputBlock) {
    return kMachSendInvalidDest;
}

KernReturn LinuxSMCTransport::close(std::uint32_t) {
    return kMachSendInvalidDest;
}

const char* LinuxSMCTransport::errorText(KernReturn code) const {
    return machErrorString(code);
}

} // namespace brivane::platform::linux_backend
