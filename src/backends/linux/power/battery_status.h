#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace brivane::platform::linux_backend {

enum class BatteryState { charging, discharging, full, notCharging };

// power_supply's `status`: "Charging", "Discharging", "Full", "Not charging"; anything else
// ("Unknown") is nothing.
std::optional<BatteryState> parseBatteryState(std::string_view status);
std::string_view batteryStateName(BatteryState state); // "charging", …, "notCharging"

// One power_supply battery as read, in the kernel's units (µW, µA, µV, µWh, µAh, %, s,
// tenths of °C). A file the driver does not have is absent.
struct SupplyReading {
    std::optional<BatteryState> state;
    std::optional<std::int64_t> capacity, powerNow, currentNow, voltageNow, voltageMinDesign,
        energyNow, energyFull, energyFullDesign, chargeNow, chargeFull, chargeFullDesign,
        cycleCount, timeToEmptyNow, timeToFullNow, temperature;
};

// The machine's batteries as one, in the snapshot's units.
struct BatteryStatus {
    std::optional<BatteryState> state;
    std::optional<double> level;          // combined charge, 0 to 1
    std::optional<double> watts;          // into or out of the batteries, ≥ 0
    std::optional<double> volts;          // of the battery that powers the machine
    std::optional<double> celsius;        // its temperature
    std::optional<double> secondsToEmpty; // while discharging
    std::optional<double> secondsToFull;  // while charging
    std::optional<double> health;         // full over design capacity
    std::optional<std::int64_t> cycleCount;
};

// A battery's power in watts: |power_now|, else |current_now × voltage_now|.
std::optional<double> supplyWatts(const SupplyReading& supply);

// The batteries taken together: the state is discharging when one discharges, else charging
// when one charges, else not charging, else full. Power, voltage and temperature come from the
// batteries in that state (the one powering the machine; power summed if two are), level and
// health from the summed energies (charge × design voltage where a driver counts charge), the
// time left from the summed energy over the power, else the kernel's own figure.
BatteryStatus combineBatteries(std::span<const SupplyReading> batteries);

} // namespace brivane::platform::linux_backend
