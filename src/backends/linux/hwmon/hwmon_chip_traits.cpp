#include "backends/linux/hwmon/hwmon_chip_traits.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace brivane::platform::linux_backend {
namespace {

// Firmware-backed drivers: Dell SMM (calls "can freeze the kernel for about 500 ms" on some
// models) and its WMI sibling, the ASUS WMI and EC drivers (frequent WMI polling can stop fans
// or leave them at full speed), HP's and Gigabyte's WMI sensors.
constexpr std::array<std::string_view, 6> slowChips = {"dell_smm",         "dell_ddv",
                                                       "asus_wmi_sensors", "asus_ec_sensors",
                                                       "hp_wmi_sensors",   "gigabyte_wmi"};

// Super-I/O families by name prefix: Nuvoton (nct6775 and nct6683 drivers), ITE (it87),
// Winbond (w83627ehf, w83627hf), Fintek (f71882fg).
constexpr std::array<std::string_view, 5> superIOPrefixes = {"nct6", "it8", "w836", "w837", "f718"};

// An ARM server's SoC monitor (X-Gene, Ampere) among them.
constexpr std::array<std::string_view, 7> processorChips = {
    "coretemp", "k10temp", "k8temp", "zenpower", "cpu_thermal", "via_cputemp", "apm_xgene"};

struct Powered {
    std::string_view name;
    PowerRole role;
};
constexpr std::array<Powered, 7> powerRoles = {{
    {"power_meter", PowerRole::system},
    {"fam15h_power", PowerRole::cpu},
    {"amdgpu", PowerRole::graphics},
    {"radeon", PowerRole::graphics},
    {"nouveau", PowerRole::graphics},
    {"i915", PowerRole::graphics},
    {"xe", PowerRole::graphics},
}};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

ChipTraits chipTraits(std::string_view name) {
    ChipTraits traits;
    traits.slow = listed(slowChips, name);
    const bool superIO = std::any_of(superIOPrefixes.begin(), superIOPrefixes.end(),
                                     [name](std::string_view p) { return name.starts_with(p); });
    traits.listsEveryHeader = superIO || name == "asus_wmi_sensors";
    // The Super-I/O drivers cache the whole register set for about 1.5 s (HZ + HZ / 2); the
    // ASUS WMI driver for a second.
    traits.cacheSeconds = superIO ? 1.5 : name == "asus_wmi_sensors" ? 1 : 0;
    traits.cpu = listed(processorChips, name);
    for (const auto& entry : powerRoles) {
        if (entry.name == name) {
            traits.power = entry.role;
        }
    }
    return traits;
}

bool isGhostTemperature(double celsius, std::optional<double> hottestProcessor,
                        std::optional<double> hiddenAt) {
    const double limit = hottestProcessor
                             ? std::max(*hottestProcessor, kCoolProcessor) + kGhostMargin
                             : kGhostCeiling;
    if (celsius > limit) {
        return true;
    }
    return hiddenAt && std::abs(celsius - *hiddenAt) < kGhostMove;
}

bool isPlausibleFanSpeed(double rpm) {
    return rpm >= 0 && rpm <= kFanCeiling;
}

} // namespace brivane::platform::linux_backend
