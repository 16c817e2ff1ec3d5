#pragma once

// Limits a driver reports when it has none, and limits no part of a computer has: left out of
// the snapshot rather than shown as real ones (an NVMe drive's "high 65261.8 °C", a SATA disk's
// "crit 0.0 °C" beside 43 °C). One table; docs/linux-platform.md lists the same rows.

#include "platform/sensor_kinds.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brivane::platform::linux_backend {

struct UnsetLimitRule {
    enum class Match {
        equal,          // the limit reads `raw`
        atLeast,        // the limit reads `raw` or more
        everyLimitZero, // every limit of the channel reads 0
    };
    std::string_view driver; // the chip's name; empty: every driver
    SensorKind kind;
    Match match;
    std::int64_t raw; // in the kind's sysfs unit (m°C)
    std::string_view why;
};

inline constexpr std::array<UnsetLimitRule, 7> unsetLimitRules = {{
    {"", SensorKind::temperature, UnsetLimitRule::Match::equal, -273150,
     "0 K: a threshold never set (an NVMe drive's minimum)"},
    {"", SensorKind::temperature, UnsetLimitRule::Match::equal, 127000,
     "+127 °C, the top of an 8-bit register: board chips' and firmware's \"none\""},
    {"", SensorKind::temperature, UnsetLimitRule::Match::equal, -127000,
     "-127 °C: firmware's \"none\""},
    {"", SensorKind::temperature, UnsetLimitRule::Match::equal, -128000,
     "-128 °C: an 8-bit register's \"none\" (it87)"},
    {"nvme", SensorKind::temperature, UnsetLimitRule::Match::equal, 65261850,
     "65535 K: a threshold the controller does not implement (Sensor 1..8's maxima)"},
    {"", SensorKind::temperature, UnsetLimitRule::Match::atLeast, 1000000,
     "1000 °C or more: no part of a computer has such a limit"},
    {"drivetemp", SensorKind::temperature, UnsetLimitRule::Match::everyLimitZero, 0,
     "every limit 0 °C: the drive reports none"},
}};

// A channel's limits as read (sysfs units, by SensorLimit), without those the rules above take
// for unset.
using RawLimits = std::array<std::optional<std::int64_t>, sensorLimitCount>;
RawLimits withoutUnsetLimits(std::string_view driver, SensorKind kind, RawLimits limits);

} // namespace brivane::platform::linux_backend
