#include "sensor_catalogue.h"

#include "platform/snapshot_keys.h"

#include <array>
#include <fnmatch.h>
#include <string>

namespace brivane::cli {
namespace {

using G = SensorGroup;

// Driver names and thermal zone types, in lower case with '-' as '_' (the thermal core names a
// zone's hwmon chip so); '*' matches any run of characters. The first matching entry wins.
struct ChipEntry {
    std::string_view pattern;
    SensorGroup group;
};

constexpr std::array chipCatalogue{
    // Processor packages, dies and cores; device-tree zones ("cpu_thermal", "bigcore0_thermal")
    // and the package zones.
    ChipEntry{"coretemp", G::cpu},
    ChipEntry{"k10temp", G::cpu},
    ChipEntry{"k8temp", G::cpu},
    ChipEntry{"zenpower", G::cpu},
    ChipEntry{"via_cputemp", G::cpu},
    ChipEntry{"fam15h_power", G::cpu},
    ChipEntry{"apm_xgene", G::cpu}, // an ARM server's SoC: "SoC Temperature", its CPU power
    ChipEntry{"x86_pkg_temp", G::cpu},
    ChipEntry{"tcpu*", G::cpu},
    ChipEntry{"b0d4", G::cpu},
    ChipEntry{"cpu*", G::cpu},
    ChipEntry{"*core*_thermal", G::cpu},
    // Graphics cards and device-tree GPU zones.
    ChipEntry{"amdgpu", G::gpu},
    ChipEntry{"radeon", G::gpu},
    ChipEntry{"nouveau", G::gpu},
    ChipEntry{"i915", G::gpu},
    ChipEntry{"xe", G::gpu},
    ChipEntry{"nvidia*", G::gpu},
    ChipEntry{"gpu*", G::gpu},
    // Memory modules' sensors.
    ChipEntry{"spd5118", G::memory},
    ChipEntry{"jc42", G::memory},
    ChipEntry{"tmem", G::memory},
    // Drives.
    ChipEntry{"nvme", G::storage},
    ChipEntry{"drivetemp", G::storage},
    // Batteries; chargers, USB-C ports and adapters (a supply's twin chip), power supplies and
    // power monitors.
    ChipEntry{"*battery*", G::battery},
    ChipEntry{"bat?", G::battery},
    ChipEntry{"*charger*", G::power},
    ChipEntry{"ucsi_source_psy*", G::power},
    ChipEntry{"tcpm_source_psy*", G::power},
    ChipEntry{"corsairpsu", G::power},
    ChipEntry{"power_meter", G::power},
    ChipEntry{"ina*", G::power},
    // Wi-Fi cards: Intel, MediaTek, Qualcomm Atheros.
    ChipEntry{"iwlwifi*", G::wireless},
    ChipEntry{"mt76*", G::wireless},
    ChipEntry{"mt79*", G::wireless},
    ChipEntry{"ath*", G::wireless},
    // The board: ACPI zones, Super-I/O chips, embedded controllers and firmware interfaces,
    // the chipset, I²C sensors.
    ChipEntry{"acpitz", G::mainboard},
    ChipEntry{"nct*", G::mainboard},
    ChipEntry{"it8*", G::mainboard},
    ChipEntry{"w83*", G::mainboard},
    ChipEntry{"f71*", G::mainboard},
    ChipEntry{"asus*", G::mainboard},
    ChipEntry{"dell_*", G::mainboard},
    ChipEntry{"hp_wmi_sensors", G::mainboard},
    ChipEntry{"gigabyte_wmi", G::mainboard},
    ChipEntry{"thinkpad", G::mainboard},
    ChipEntry{"cros_ec", G::mainboard},
    ChipEntry{"steamdeck_hwmon", G::mainboard},
    ChipEntry{"rpi_volt", G::mainboard},
    ChipEntry{"pch_*", G::mainboard},
    ChipEntry{"lm*", G::mainboard},
    ChipEntry{"tmp*", G::mainboard},
};

constexpr std::string_view zoneChip = "thermal_zone";

// The table's patterns use '*' and '?' only.
bool matches(std::string_view text, std::string_view pattern) {
    return ::fnmatch(std::string(pattern).c_str(), std::string(text).c_str(), 0) == 0;
}

// "temp2", "fan1", "in0": a channel's stem, the name it goes by without a label.
bool isStem(std::string_view label) {
    for (const auto& kind : platform::sensorKinds) {
        const std::string_view prefix = kind.hwmon.prefix;
        if (label.starts_with(prefix) && label.size() > prefix.size() &&
            label.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// Lower case, '-' as '_'.
std::string folded(std::string_view text) {
    std::string name(text);
    for (char& c : name) {
        c = c == '-' ? '_' : c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return name;
}

} // namespace

SensorGroup chipGroup(std::string_view chip) {
    const std::string name = folded(chip.substr(0, chip.find_first_of("@#")));
    for (const auto& entry : chipCatalogue) {
        if (matches(name, entry.pattern)) {
            return entry.group;
        }
    }
    return G::other;
}

std::optional<SmcKeyDescription> describeSensor(std::string_view key,
                                                std::optional<platform::SensorKind> kind) {
    if (key == platform::snapshot_key::batteryTemperature) {
        return SmcKeyDescription{"Battery", G::battery};
    }
    const auto slash = key.find('/');
    if (slash == std::string_view::npos) {
        return describeSmcKey(key);
    }
    const auto chip = key.substr(0, slash);
    const auto label = key.substr(slash + 1);
    if (chip == zoneChip) {
        const auto group = chipGroup(label);
        return SmcKeyDescription{std::string(label), group == G::other ? G::mainboard : group};
    }
    // A channel that names the battery (a handheld's "Battery Temp") is the battery's, whatever
    // chip reports it.
    const auto group = matches(folded(label), "*battery*") ? G::battery : chipGroup(chip);
    return SmcKeyDescription{isStem(label) ? std::string(chip.substr(0, chip.find_first_of("@#"))) +
                                                 " " + std::string(label)
                                           : std::string(label),
                             group == G::other && kind ? platform::infoOf(*kind).group : group};
}

} // namespace brivane::cli
