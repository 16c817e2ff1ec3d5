#pragma once

// Pure rules for hardware-monitor attributes: which files are sensors, how chips and sensors
// are named, which Apple SMC key a labelled channel stands for, and which values are the
// drivers' "no reading" markers. The tree walker feeds them plain strings.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::platform::linux_backend {

enum class SensorKind { temperature, fan, power };

// "temp12_input" → temperature 12, item "input". Only the families the companion reads.
struct AttributeName {
    SensorKind kind = SensorKind::temperature;
    unsigned index = 0;
    std::string_view item;
};
std::optional<AttributeName> parseAttributeName(std::string_view file);

// "temp12", the name a channel goes by when its driver gives it no label.
std::string attributeStem(SensorKind kind, unsigned index);

// A label as the driver wrote it, without its line feed and surrounding blanks; absent when
// nothing is left.
std::optional<std::string> cleanLabel(std::string_view text);

// The device a hwmon node belongs to, from its class link target
// ("../../devices/platform/coretemp.0/hwmon/hwmon3" → "coretemp.0"); empty for a node
// without a device ("…/devices/virtual/hwmon/hwmon0").
std::string deviceNameOf(std::string_view linkTarget);

// One chip as the walker found it.
struct ChipIdentity {
    std::string name;       // its "name" attribute
    std::string linkTarget; // where class/hwmon/hwmonN points
    std::string node;       // "hwmon3", the last resort
};

// A name per chip, in the order given, that no other chip shares and that holds across
// reboots: the chip's name alone when it is unique; else "<name>@<device>"; when even that
// repeats (two nodes on one device), those in device-path order get "#2", "#3" after the first.
std::vector<std::string> uniqueChipNames(const std::vector<ChipIdentity>& chips);

// The Apple SMC key of a channel of the Apple-silicon SMC driver, by its label (for a fan, the
// "F<i>" its keys begin with); absent for a label the table does not know.
std::optional<std::string_view> appleSiliconKeyForLabel(SensorKind kind, std::string_view label);

// The chip names of the Apple SMC's drivers: Intel Macs and Apple silicon.
inline constexpr std::string_view intelSMCChip = "applesmc";
inline constexpr std::string_view appleSiliconSMCChip = "macsmc_hwmon";
inline bool isSMCChipName(std::string_view name) {
    return name == intelSMCChip || name == appleSiliconSMCChip;
}

// Whether text can be an SMC key name: four printable ASCII characters.
bool isSMCKeyName(std::string_view text);

// Whether a temperature in millidegrees is a driver's marker for "no reading" rather than a
// measurement.
bool isTemperatureSentinel(std::int64_t millidegrees);

} // namespace brivane::platform::linux_backend
