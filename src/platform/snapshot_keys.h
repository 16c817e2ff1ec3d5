#pragma once

// Keys of the snapshot's readings that more than one part of the companion names: the agent
// that writes them, the back ends whose figures stand for them and the clients that read them.

#include <array>
#include <string_view>

namespace brivane::platform::snapshot_key {

// The SMC's power keys the snapshot carries in its `power` member, in that order: the system's
// total, the CPU package, the GPU, the memory and the battery's rail.
inline constexpr std::array<std::string_view, 5> smcPower = {"PSTR", "PCPC", "PG0R", "PMTR",
                                                             "PPBR"};
inline constexpr std::string_view systemPower = smcPower[0];

constexpr bool isSmcPower(std::string_view key) {
    for (const auto power : smcPower) {
        if (power == key) {
            return true;
        }
    }
    return false;
}

// The CPU's and the GPU's power from their energy counters, averaged since the previous
// request, and those counters themselves, in joules since the agent started.
inline constexpr std::string_view cpuModelPower = "CPUModelPower";
inline constexpr std::string_view gpuModelPower = "GPUModelPower";
inline constexpr std::string_view cpuEnergy = "CPUEnergy";
inline constexpr std::string_view gpuEnergy = "GPUEnergy";

// The battery's: a temperature, the power it gives while discharging and its voltage.
inline constexpr std::string_view batteryTemperature = "BatteryTemperature";
inline constexpr std::string_view batteryPower = "BatteryPower";
inline constexpr std::string_view batteryVoltage = "BatteryVoltage";

} // namespace brivane::platform::snapshot_key
