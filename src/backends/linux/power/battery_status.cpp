#include "backends/linux/power/battery_status.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace brivane::platform::linux_backend {

namespace {

using Field = std::optional<std::int64_t> SupplyReading::*;

double number(std::int64_t value) {
    return static_cast<double>(value);
}

// µWh from an energy file, else a charge file (µAh) at the design voltage (else the present
// one): drivers count one or the other.
std::optional<double> microwattHours(const SupplyReading& supply, Field energy, Field charge) {
    if (supply.*energy)
        return number(*(supply.*energy));
    const auto volts = supply.voltageMinDesign ? supply.voltageMinDesign : supply.voltageNow;
    if (supply.*charge && volts && *volts > 0)
        return number(*(supply.*charge)) * number(*volts) / 1e6;
    return std::nullopt;
}

// The sum over every battery, or nothing when one of them lacks it.
std::optional<double> total(std::span<const SupplyReading> batteries, Field energy, Field charge) {
    double sum = 0;
    for (const SupplyReading& supply : batteries) {
        const auto value = microwattHours(supply, energy, charge);
        if (!value)
            return std::nullopt;
        sum += *value;
    }
    return sum;
}

std::optional<double> ratio(std::optional<double> part, std::optional<double> whole) {
    if (!part || !whole || *whole <= 0)
        return std::nullopt;
    return *part / *whole;
}

} // namespace

std::optional<BatteryState> parseBatteryState(std::string_view status) {
    if (status == "Charging")
        return BatteryState::charging;
    if (status == "Discharging")
        return BatteryState::discharging;
    if (status == "Full")
        return BatteryState::full;
    if (status == "Not charging")
        return BatteryState::notCharging;
    return std::nullopt;
}

std::string_view batteryStateName(BatteryState state) {
    switch (state) {
    case BatteryState::charging:
        return "charging";
    case BatteryState::discharging:
        return "discharging";
    case BatteryState::full:
        return "full";
    case BatteryState::notCharging:
        return "notCharging";
    }
    return "";
}

std::optional<double> supplyWatts(const SupplyReading& supply) {
    if (supply.powerNow)
        return std::abs(number(*supply.powerNow)) / 1e6;
    if (supply.currentNow && supply.voltageNow)
        return std::abs(number(*supply.currentNow) * number(*supply.voltageNow)) / 1e12;
    return std::nullopt;
}

BatteryStatus combineBatteries(std::span<const SupplyReading> batteries) {
    BatteryStatus status;
    if (batteries.empty())
        return status;
    for (BatteryState wanted : {BatteryState::discharging, BatteryState::charging,
                                BatteryState::notCharging, BatteryState::full}) {
        for (const SupplyReading& supply : batteries)
            if (supply.state == wanted && !status.state)
                status.state = wanted;
    }
    // The batteries that power the machine (or take the charge); all of them when neither.
    const bool moving =
        status.state == BatteryState::discharging || status.state == BatteryState::charging;
    std::vector<const SupplyReading*> powering;
    for (const SupplyReading& supply : batteries)
        if (!moving || supply.state == status.state)
            powering.push_back(&supply);

    for (const SupplyReading* supply : powering) {
        if (const auto watts = supplyWatts(*supply))
            status.watts = status.watts.value_or(0) + *watts;
        if (!status.volts && supply->voltageNow)
            status.volts = number(*supply->voltageNow) / 1e6;
        if (!status.cycleCount && supply->cycleCount)
            status.cycleCount = supply->cycleCount;
        if (!status.celsius && supply->temperature)
            status.celsius = number(*supply->temperature) / 10;
    }
    for (const SupplyReading& supply : batteries) // many batteries have no sensor
        if (!status.celsius && supply.temperature)
            status.celsius = number(*supply.temperature) / 10;

    const auto now = total(batteries, &SupplyReading::energyNow, &SupplyReading::chargeNow);
    const auto full = total(batteries, &SupplyReading::energyFull, &SupplyReading::chargeFull);
    const auto design =
        total(batteries, &SupplyReading::energyFullDesign, &SupplyReading::chargeFullDesign);
    status.level = ratio(now, full);
    if (!status.level) {
        double percent = 0;
        for (const SupplyReading& supply : batteries) {
            if (!supply.capacity) {
                percent = NAN;
                break;
            }
            percent += number(*supply.capacity);
        }
        if (!std::isnan(percent))
            status.level = percent / 100 / static_cast<double>(batteries.size());
    }
    if (status.level)
        status.level = std::clamp(*status.level, 0.0, 1.0);
    status.health = ratio(full, design);

    // µWh over µW is hours.
    const double watts = status.watts.value_or(0);
    if (status.state == BatteryState::discharging) {
        if (now && watts > 0)
            status.secondsToEmpty = *now / (watts * 1e6) * 3600;
        else if (powering.size() == 1 && powering.front()->timeToEmptyNow)
            status.secondsToEmpty = number(*powering.front()->timeToEmptyNow);
    } else if (status.state == BatteryState::charging) {
        if (now && full && watts > 0)
            status.secondsToFull = std::max(0.0, *full - *now) / (watts * 1e6) * 3600;
        else if (powering.size() == 1 && powering.front()->timeToFullNow)
            status.secondsToFull = number(*powering.front()->timeToFullNow);
    }
    return status;
}

} // namespace brivane::platform::linux_backend
