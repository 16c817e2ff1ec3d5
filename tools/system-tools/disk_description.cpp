#include "disk_description.h"

#include "plist_text.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string_view>

namespace brivane::system_tools {
namespace {

constexpr std::uint64_t bytesPerDataUnit = 512'000;
constexpr std::uint64_t bytesPerSector = 512;
constexpr std::uint64_t secondsPerHour = 3600;
constexpr std::int64_t kelvinOffset = 273;
constexpr double exactKelvinOffset = 273.15;

// ATA attributes that carry an NVMe figure's meaning, and the unit UDisks2 must report for it.
constexpr std::uint8_t powerCycleCount = 12;
constexpr std::uint8_t totalSectorsWritten = 241;
constexpr std::uint8_t totalSectorsRead = 242;
// ATA attributes counted in sectors that say a disk is wearing out, and their keys.
constexpr std::pair<std::uint8_t, const char*> sectorCounts[] = {
    {5, "REALLOCATED_SECTOR_COUNT"},
    {197, "CURRENT_PENDING_SECTOR"},
    {198, "OFFLINE_UNCORRECTABLE"},
};
constexpr std::int32_t unitDimensionless = 1;
constexpr std::int32_t unitSectors = 3;

using Entries = std::map<std::string, std::uint64_t, std::less<>>;

// A 128-bit NVMe counter as its two 64-bit halves; the bus only ever carries the low one.
void counter(Entries& entries, std::string_view name, std::optional<std::uint64_t> value) {
    if (value) {
        entries[std::string(name) + "_0"] = *value;
        entries[std::string(name) + "_1"] = 0;
    }
}

void plain(Entries& entries, std::string_view name, std::optional<std::uint64_t> value) {
    if (value) {
        entries[std::string(name)] = *value;
    }
}

std::optional<std::uint64_t> dataUnits(std::optional<std::uint64_t> bytes) {
    return bytes ? std::optional<std::uint64_t>(*bytes / bytesPerDataUnit) : std::nullopt;
}

// Kelvin as the reader takes it (T - 273 is the Celsius value) from an exact Kelvin reading.
std::optional<std::uint64_t> wholeKelvin(std::optional<double> kelvin) {
    if (!kelvin || !(*kelvin > 0) || *kelvin > 1e6) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(std::llround(*kelvin - exactKelvinOffset) + kelvinOffset);
}

// UDisks2 reports 0 for a figure it has not read yet.
std::optional<std::uint64_t> known(std::optional<std::uint64_t> value) {
    return value && *value != 0 ? value : std::nullopt;
}

bool smartNeverRead(const BusProperties& properties) {
    return counterField(properties, "SmartUpdated") == 0u;
}

SmartEntries sorted(const Entries& entries) {
    return SmartEntries(entries.begin(), entries.end());
}

std::optional<std::string_view> modelOf(const DiskFacts& facts) {
    if (facts.drive) {
        if (const auto model = textField(facts.drive->drive, "Model"); model && !model->empty()) {
            return model;
        }
    }
    if (facts.model && !facts.model->empty()) {
        return std::string_view(*facts.model);
    }
    return std::nullopt;
}

std::optional<std::string_view> smartStatus(const DiskFacts& facts) {
    const auto* drive = facts.drive ? &*facts.drive : nullptr;
    if (drive && drive->nvme && !smartNeverRead(*drive->nvme)) {
        if (const auto warning = counterField(*drive->nvme, "SmartCriticalWarning")) {
            return *warning == 0 ? "Verified" : "Failing";
        }
    }
    if (drive && drive->ata && !smartNeverRead(*drive->ata)) {
        if (const auto failing = booleanField(*drive->ata, "SmartFailing")) {
            return *failing ? "Failing" : "Verified";
        }
    }
    if (facts.healthLog) {
        return facts.healthLog->criticalWarning == 0 ? "Verified" : "Failing";
    }
    return std::nullopt;
}

// When the figures were read: UDisks2 reads a sleeping disk's only once it wakes.
std::optional<std::uint64_t> smartUpdated(const DiskFacts& facts) {
    const auto* drive = facts.drive ? &*facts.drive : nullptr;
    for (const auto* properties : {drive && drive->nvme ? &*drive->nvme : nullptr,
                                   drive && drive->ata ? &*drive->ata : nullptr}) {
        if (const auto updated =
                properties ? known(counterField(*properties, "SmartUpdated")) : std::nullopt) {
            return updated;
        }
    }
    if (facts.healthLog && facts.healthLog->readAt != 0) {
        return facts.healthLog->readAt;
    }
    return std::nullopt;
}

std::optional<std::string_view> serialOf(const DiskFacts& facts) {
    if (facts.drive) {
        if (const auto serial = textField(facts.drive->drive, "Serial");
            serial && !serial->empty()) {
            return serial;
        }
    }
    if (facts.serial && !facts.serial->empty()) {
        return std::string_view(*facts.serial);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> kelvinOfMillicelsius(std::optional<std::int64_t> millidegrees) {
    if (!millidegrees) {
        return std::nullopt;
    }
    return wholeKelvin(static_cast<double>(*millidegrees) / 1000 + exactKelvinOffset);
}

} // namespace

SmartEntries nvmeSmartEntries(const BusProperties& controller, const BusProperties& attributes) {
    Entries entries;
    if (smartNeverRead(controller)) {
        return {};
    }
    plain(entries, "TEMPERATURE", known(counterField(controller, "SmartTemperature")));
    plain(entries, "CRITICAL_WARNING", counterField(controller, "SmartCriticalWarning"));
    counter(entries, "POWER_ON_HOURS", counterField(controller, "SmartPowerOnHours"));
    plain(entries, "AVAILABLE_SPARE", counterField(attributes, "avail_spare"));
    plain(entries, "AVAILABLE_SPARE_THRESHOLD", counterField(attributes, "spare_thresh"));
    plain(entries, "PERCENTAGE_USED", counterField(attributes, "percent_used"));
    counter(entries, "DATA_UNITS_READ", dataUnits(counterField(attributes, "total_data_read")));
    counter(entries, "DATA_UNITS_WRITTEN",
            dataUnits(counterField(attributes, "total_data_written")));
    counter(entries, "POWER_CYCLES", counterField(attributes, "power_cycles"));
    counter(entries, "UNSAFE_SHUTDOWNS", counterField(attributes, "unsafe_shutdowns"));
    counter(entries, "MEDIA_ERRORS", counterField(attributes, "media_errors"));
    counter(entries, "CONTROLLER_BUSY_TIME", counterField(attributes, "ctrl_busy_time"));
    counter(entries, "NUM_ERROR_INFO_LOG_ENTRIES", counterField(attributes, "num_err_log_entries"));
    return sorted(entries);
}

SmartEntries nvmeSmartEntries(const NvmeHealthLog& log) {
    Entries entries;
    plain(entries, "TEMPERATURE", known(log.temperatureKelvin));
    plain(entries, "CRITICAL_WARNING", log.criticalWarning);
    counter(entries, "POWER_ON_HOURS", log.powerOnHours);
    plain(entries, "AVAILABLE_SPARE", log.availableSpare);
    plain(entries, "AVAILABLE_SPARE_THRESHOLD", log.spareThreshold);
    plain(entries, "PERCENTAGE_USED", log.percentageUsed);
    counter(entries, "DATA_UNITS_READ", log.dataUnitsRead);
    counter(entries, "DATA_UNITS_WRITTEN", log.dataUnitsWritten);
    counter(entries, "POWER_CYCLES", log.powerCycles);
    counter(entries, "UNSAFE_SHUTDOWNS", log.unsafeShutdowns);
    counter(entries, "MEDIA_ERRORS", log.mediaErrors);
    counter(entries, "NUM_ERROR_INFO_LOG_ENTRIES", log.errorLogEntries);
    return sorted(entries);
}

SmartEntries ataSmartEntries(const BusProperties& ata,
                             const std::vector<AtaAttribute>& attributes) {
    if (booleanField(ata, "SmartSupported") == false ||
        booleanField(ata, "SmartEnabled") == false || smartNeverRead(ata)) {
        return {};
    }
    Entries entries;
    plain(entries, "TEMPERATURE", wholeKelvin(numberField(ata, "SmartTemperature")));
    if (const auto seconds = known(counterField(ata, "SmartPowerOnSeconds"))) {
        counter(entries, "POWER_ON_HOURS", *seconds / secondsPerHour);
    }
    for (const auto& attribute : attributes) {
        if (attribute.pretty < 0) {
            continue;
        }
        const auto value = static_cast<std::uint64_t>(attribute.pretty);
        for (const auto& [id, key] : sectorCounts) {
            if (attribute.id == id && attribute.prettyUnit == unitSectors) {
                plain(entries, key, value);
            }
        }
        if (attribute.id == powerCycleCount && attribute.prettyUnit == unitDimensionless) {
            counter(entries, "POWER_CYCLES", value);
        } else if (attribute.prettyUnit == unitSectors &&
                   (attribute.id == totalSectorsWritten || attribute.id == totalSectorsRead)) {
            const auto units = value / (bytesPerDataUnit / bytesPerSector);
            counter(entries,
                    attribute.id == totalSectorsWritten ? "DATA_UNITS_WRITTEN" : "DATA_UNITS_READ",
                    units);
        }
    }
    return sorted(entries);
}

std::optional<std::pair<std::string, ObjectInterfaces>> udisksDriveOf(const ManagedObjects& objects,
                                                                      std::string_view kernelName) {
    const std::string device = "/dev/" + std::string(kernelName);
    for (const auto& [path, interfaces] : objects) {
        const auto block = interfaces.find("org.freedesktop.UDisks2.Block");
        if (block == interfaces.end() || textField(block->second, "Device") != device) {
            continue;
        }
        const auto drivePath = textField(block->second, "Drive");
        for (const auto& candidate : objects) {
            if (drivePath && candidate.first == *drivePath) {
                return candidate;
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::string diskDescription(const DiskFacts& facts) {
    SmartEntries smart;
    if (facts.drive && facts.drive->nvme) {
        smart = nvmeSmartEntries(*facts.drive->nvme, facts.drive->nvmeAttributes);
    } else if (facts.drive && facts.drive->ata) {
        smart = ataSmartEntries(*facts.drive->ata, facts.drive->ataAttributes);
    }
    if (smart.empty() && facts.healthLog) {
        smart = nvmeSmartEntries(*facts.healthLog);
    }
    const auto has = [&](std::string_view key) {
        return std::any_of(smart.begin(), smart.end(),
                           [&](const auto& entry) { return entry.first == key; });
    };
    if (!has("TEMPERATURE")) {
        if (const auto kelvin = kelvinOfMillicelsius(facts.hwmonMillicelsius)) {
            smart.emplace_back("TEMPERATURE", *kelvin);
        }
    }
    for (const auto& [key, limit] : {std::pair{"WARNING_TEMPERATURE", facts.hwmonMaxMillicelsius},
                                     {"CRITICAL_TEMPERATURE", facts.hwmonCritMillicelsius}}) {
        if (const auto kelvin = smart.empty() ? std::nullopt : kelvinOfMillicelsius(limit)) {
            smart.emplace_back(key, *kelvin);
        }
    }

    PlistText plist;
    plist.text("DeviceIdentifier", facts.identifier);
    plist.text("DeviceNode", "/dev/" + facts.kernelName);
    if (const auto model = modelOf(facts)) {
        plist.text("MediaName", *model);
    }
    if (const auto serial = serialOf(facts)) {
        plist.text("SerialNumber", *serial);
    }
    if (!smart.empty()) {
        plist.openDictionary("SMARTDeviceSpecificKeysMayVaryNotGuaranteed");
        for (const auto& [key, value] : smart) {
            plist.unsignedInteger(key, value);
        }
        plist.closeDictionary();
    }
    if (const auto status = smartStatus(facts)) {
        plist.text("SMARTStatus", *status);
    }
    if (const auto updated = smart.empty() ? std::nullopt : smartUpdated(facts)) {
        plist.unsignedInteger("SMARTUpdated", *updated);
    }
    if (facts.sizeBytes) {
        plist.unsignedInteger("Size", *facts.sizeBytes);
    }
    if (facts.rotational) {
        plist.boolean("SolidState", !*facts.rotational);
    }
    return std::move(plist).finish();
}

} // namespace brivane::system_tools
