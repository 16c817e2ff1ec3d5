#pragma once

#include "platform/uptime_clock.h"

namespace brivane::platform::posix {

// CLOCK_MONOTONIC: seconds since boot, stopped during suspend like the platform's uptime.
class MonotonicUptimeClock final : public UptimeClock {
public:
    double uptime() const override;
};

} // namespace brivane::platform::posix
