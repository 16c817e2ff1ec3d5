#include "core/battery_essentials.h"

#include "platform/registry_names.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace brivane {

namespace {

constexpr std::array<std::string_view, 4> states = {"charging", "discharging", "full",
                                                    "notCharging"};
constexpr double maximumWatts = 1000;
constexpr double maximumSeconds = 10 * 24 * 3600.0; // longer is a driver's guess, not a figure
constexpr double maximumHealth = 2;
constexpr double maximumCycles = 100000;

} // namespace

std::optional<SensorSnapshot::BatteryReading>
batteryEssentials(const platform::RegistryEntry& battery) {
    namespace property = platform::battery_property;
    // NaN fails both comparisons, so it is never kept.
    const auto within = [&](std::string_view name, double lowest, double highest,
                            bool lowestIncluded = true) -> std::optional<double> {
        const auto value = battery.numberProperty(name);
        if (!value || *value > highest || *value < lowest || (!lowestIncluded && *value == lowest))
            return std::nullopt;
        return value;
    };
    const auto level = within(property::level, 0, 1);
    if (!level)
        return std::nullopt;
    SensorSnapshot::BatteryReading reading;
    reading.level = *level;
    if (const auto state = battery.stringProperty(property::state);
        state && std::find(states.begin(), states.end(), *state) != states.end())
        reading.state = std::string(*state);
    reading.power = within(property::power, 0, maximumWatts);
    reading.timeToEmpty = within(property::secondsToEmpty, 0, maximumSeconds, false);
    reading.timeToFull = within(property::secondsToFull, 0, maximumSeconds, false);
    reading.health = within(property::health, 0, maximumHealth, false);
    if (const auto cycles = within(property::cycleCount, 0, maximumCycles);
        cycles && std::trunc(*cycles) == *cycles)
        reading.cycleCount = static_cast<std::int64_t>(*cycles);
    return reading;
}

} // namespace brivane
