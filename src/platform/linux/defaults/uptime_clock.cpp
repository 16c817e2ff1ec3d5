#include "platform/linux/uptime_clock_linux.h"

namespace brivane::platform {

std::shared_ptr<const UptimeClock> makeDefaultUptimeClock() {
    return std::make_shared<linux_backend::MonotonicUptimeClock>();
}

} // namespace brivane::platform
