#include "backends/posix/system/monotonic_uptime_clock.h"

#include <time.h>

namespace brivane::platform::posix {

double MonotonicUptimeClock::uptime() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace brivane::platform::posix
