#pragma once

// The disk tool stand-in's "info -plist" text: what sysfs, UDisks2 and the NVMe health files
// know of one whole disk, with the SMART figures under the keys and units the storage reader
// expects (temperatures in kelvin, NVMe data units of 512,000 bytes, hours, percentages, sector
// counts, 128-bit counters as _0/_1 halves), and when the drive's figures were read.

#include "bus_values.h"
#include "nvme-health/health_log.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brivane::system_tools {

// One row of UDisks2's Drive.Ata.SmartGetAttributes.
struct AtaAttribute {
    std::uint8_t id = 0;
    std::string name;
    std::int64_t pretty = 0;
    std::int32_t prettyUnit = 0;
};

// What the bus said of a disk's drive; every part may be missing.
struct DriveFacts {
    BusProperties drive;               // org.freedesktop.UDisks2.Drive
    std::optional<BusProperties> nvme; // NVMe.Controller properties
    BusProperties nvmeAttributes;      // NVMe.Controller.SmartGetAttributes
    std::optional<BusProperties> ata;  // Drive.Ata properties
    std::vector<AtaAttribute> ataAttributes;
};

struct DiskFacts {
    std::string identifier{}; // "disk0"
    std::string kernelName{}; // "nvme0n1"
    std::optional<std::uint64_t> sizeBytes{};
    std::optional<bool> rotational{};
    std::optional<std::string> model{};
    std::optional<DriveFacts> drive{};
    // The NVMe controller's "Composite" hwmon temperature, millidegrees Celsius.
    std::optional<std::int64_t> hwmonMillicelsius{};
    // The drive's own limits its hardware monitor reports (nvme, drivetemp), millidegrees.
    std::optional<std::int64_t> hwmonMaxMillicelsius{};
    std::optional<std::int64_t> hwmonCritMillicelsius{};
    std::optional<std::string> serial{};
    // The controller's health log as brivane-nvme-health last read it.
    std::optional<NvmeHealthLog> healthLog{};
};

using SmartEntries = std::vector<std::pair<std::string, std::uint64_t>>;

// The SMART dictionary's entries, empty when nothing is known.
SmartEntries nvmeSmartEntries(const BusProperties& controller, const BusProperties& attributes);
SmartEntries nvmeSmartEntries(const NvmeHealthLog& log);
SmartEntries ataSmartEntries(const BusProperties& ata, const std::vector<AtaAttribute>& attributes);

// The UDisks2 drive object behind the block device /dev/<kernelName>, with its path.
std::optional<std::pair<std::string, ObjectInterfaces>> udisksDriveOf(const ManagedObjects& objects,
                                                                      std::string_view kernelName);

// The property list for the disk; SMART figures from the bus, else the hwmon temperature alone.
std::string diskDescription(const DiskFacts& facts);

} // namespace brivane::system_tools
