// The simulated machine talks over real local sockets.
#include "platform/endpoint.h"

#include "platform/linux/endpoint_linux.h"

namespace brivane::platform {

std::shared_ptr<Endpoints> makeDefaultEndpoints() {
    return std::make_shared<linux_backend::LinuxEndpoints>();
}

} // namespace brivane::platform
