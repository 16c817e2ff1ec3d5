#pragma once

// Thermal zones that no hwmon chip shows. The thermal core gives most zones a hwmon twin (one
// chip per zone type, its inputs one per zone of that type), which the hardware monitor reads
// already; zones registered without one (Intel's DPTF sensors SEN1, SEN2, …, the processor's
// package zone, device-tree zones whose driver adds none) are read from their own `temp`.

#include "backends/linux/hwmon/hwmon_naming.h"
#include "backends/posix/kernel_files/sysfs_reading.h"

#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// The chip part of a zone's key: "thermal_zone/SEN1".
inline constexpr std::string_view thermalZoneChip = "thermal_zone";

// One zone as the walker found it.
struct ThermalZone {
    std::string folder;      // "class/thermal/thermal_zone3"
    std::string type;        // its "type" attribute, trimmed; empty when it has none
    bool hwmonChild = false; // a hwmon node hangs below it: its twin
};

// A zone to read: its temperature file (m°C) and its key.
struct ZoneSensor {
    std::string input; // "class/thermal/thermal_zone3/temp"
    std::string key;   // "thermal_zone/<type>", numbered from the second zone of a type on
    bool processor = false;
};

// Of the zones (in zone-number order), those to read, given every hwmon chip found. Left out:
// - a zone with a twin: a hwmon node below it, or a chip named after its type (with '-' as
//   '_', as the thermal core names them) on a virtual device, where the core registers them;
// - "INT3400 Thermal", the DPTF framework's own zone, whose driver reports a fixed 20 °C;
// - the processor's package zones ("x86_pkg_temp", the DPTF processor participant "TCPU",
//   "TCPU_PCI", "B0D4") while a coretemp chip reads the same package sensor ("Package id 0").
std::vector<ZoneSensor> zonesToRead(const std::vector<ThermalZone>& zones,
                                    const std::vector<ChipIdentity>& chips);

// Every class/thermal/thermal_zoneN, in zone-number order.
std::vector<ThermalZone> listThermalZones(const posix::RootedDirectory& sys);

} // namespace brivane::platform::linux_backend
