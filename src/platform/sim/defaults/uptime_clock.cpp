#include "platform/linux/uptime_clock_linux.h"

namespace brivane::platform {

// The simulated machine lives in real time: its counters advance with the host's clock.
std::shared_ptr<const UptimeClock> makeDefaultUptimeClock() {
    return std::make_shared<linux_backend::MonotonicUptimeClock>();
}

} // namespace brivane::platform
