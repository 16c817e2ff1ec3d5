#pragma once

// Pure rules for hardware-monitor attributes: which files are sensors, how chips and sensors
// are named, which Apple SMC key a labelled channel stands for, and which values are the
// drivers' "no reading" markers. The tree walker feeds them plain strings.

#include "backends/linux/hwmon/temperature_sentinel.h"
#include "platform/sensor_kinds.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::platform::linux_backend {

// "temp12_input" → temperature 12, item "input"; "in0_input" → voltage 0. Only the kinds of
// platform/sensor_kinds.h, numbered from 0 or 1 as their rows say; a kind whose value is its
// bare file ("pwm1") gives that file an empty item.
struct AttributeName {
    SensorKind kind = SensorKind::temperature;
    unsigned index = 0;
    std::string_view item;
};
std::optional<AttributeName> parseAttributeName(std::string_view file);

// The limits and flags a channel may have, as the kernel's hwmon interface names them for its
// kind (a limit "max", its alarm "max_alarm"); empty for those its kind's row lacks. Limits and
// alarms are indexed as SensorLimit and SensorAlarm.
std::string_view limitItem(SensorKind kind, std::size_t limit);
std::string_view alarmItem(SensorKind kind, std::size_t alarm);

// "temp12", the name a channel goes by when its driver gives it no label.
std::string attributeStem(SensorKind kind, unsigned index);

// A label as the driver wrote it, without its line feed and surrounding blanks; absent when
// nothing is left.
std::optional<std::string> cleanLabel(std::string_view text);

// Where a hwmon node's device sits, from its class link target, in words that hold across
// boots and probe orders: the deepest bus address on the path (PCI "0000:03:00.0", USB port
// "1-4:1.0", SCSI "0:0:0:0", I2C "0-0048", ACPI "ACPI000D:00"), or a platform device's name
// ("coretemp.0"). `pluggable` marks the buses a second device of the same kind can be added to
// (PCI, USB, SCSI). Empty text for a node with no such address.
struct DeviceAddress {
    std::string text;
    bool pluggable = false;
};
DeviceAddress deviceAddressOf(std::string_view linkTarget);

// A sysfs path up to its deepest PCI function ("devices/pci0000:00/0000:00:01.1/0000:03:00.0"
// of ".../0000:03:00.0/hwmon/hwmon2"), wherever the path starts; empty when it has none.
std::string_view pciFunctionFolder(std::string_view path);

// Whether a hwmon node belongs to a power supply (".../power_supply/BAT0/hwmon4"): the supply
// core registers one for every supply with a temperature, voltage or current.
bool belongsToPowerSupply(std::string_view linkTarget);

// A chip name that can stand before the '/' of a key and the ' ' of a fan name: '%', '/' and
// ' ' escaped as "%25", "%2F" and "%20", so two different chips never share a key, a key splits
// at its first '/' and a fan name at its first ' '.
std::string escapedChipName(std::string_view name);

// One chip as the walker found it.
struct ChipIdentity {
    std::string name;       // its "name" attribute
    std::string linkTarget; // where class/hwmon/hwmonN points
    std::string node;       // "hwmon3", the last resort
};

// A name per chip, in the order given, that no other chip shares and that holds across reboots
// and probe orders (never the hwmonN number where anything else exists): the escaped name,
// followed by "@<address>" when the chip sits on a pluggable bus or its name repeats (the node
// when there is no address); when even that repeats, those in device-path order get "#2",
// "#3" after the first.
std::vector<std::string> uniqueChipNames(const std::vector<ChipIdentity>& chips);

// The Apple SMC key of a channel of the Apple-silicon SMC driver, by its label (for a fan, the
// "F<i>" its keys begin with: "Fan" and "Fan 1" are F0, "Fan 2" F1, up to "Fan 10"); absent for
// a label the table does not know.
std::optional<std::string> appleSiliconKeyForLabel(SensorKind kind, std::string_view label);

// The chip names of the Apple SMC's drivers: Intel Macs and Apple silicon.
inline constexpr std::string_view intelSMCChip = "applesmc";
inline constexpr std::string_view appleSiliconSMCChip = "macsmc_hwmon";
inline bool isSMCChipName(std::string_view name) {
    return name == intelSMCChip || name == appleSiliconSMCChip;
}

// Whether text can be an SMC key name: four printable ASCII characters.
bool isSMCKeyName(std::string_view text);

} // namespace brivane::platform::linux_backend
