#pragma once

#include "platform/smc_transport.h"

namespace brivane::platform::linux_backend {

// Linux offers no "AppleSMC" service: opening finds none, and with no connection every
// exchange and the close fail as they do on an unopened connection.
class LinuxSMCTransport final : public SMCTransport {
public:
    SMCOpenResult open() override;
    KernReturn call(std::uint32_t connection, std::uint32_t selector, SMCInputBlock input,
                    SMCOutputBlock output) override;
    KernReturn close(std::uint32_t connection) override;
    const char* errorText(KernReturn code) const override;
};

} // namespace brivane::platform::linux_backend
