#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace brivane::platform::linux_backend {

// Whether a hwmon temperature in millidegrees is a driver's marker for "no reading" rather than
// a measurement: ±127 °C (Apple SMC, Dell SMM, many board chips), −128 °C (it87 faulty input)
// and −273.15 °C (an unset limit). The agent's sensors and the disk tool's NVMe temperature
// both skip them.
inline bool isTemperatureSentinel(std::int64_t millidegrees) {
    constexpr std::array<std::int64_t, 4> sentinels = {127000, -127000, -128000, -273150};
    return std::find(sentinels.begin(), sentinels.end(), millidegrees) != sentinels.end();
}

} // namespace brivane::platform::linux_backend
