#include "readers/storage_health_reader.h"

#include "readers/property_list.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace brivane {
namespace {

constexpr std::int64_t saturated = std::numeric_limits<std::int64_t>::max();
// One NVMe data unit is 1000 blocks of 512 bytes.
constexpr std::int64_t bytesPerDataUnit = 512000;

// A 128-bit NVMe counter stored as two unsigned 64-bit halves, "<name>_0" low and "<name>_1"
// high; both must be present.
std::optional<std::int64_t> counter(plist::Node smart, const std::string& name) {
    const auto low = plist::uint64Value(plist::item(smart, (name + "_0").c_str()));
    if (!low) {
        return std::nullopt;
    }
    const auto high = plist::uint64Value(plist::item(smart, (name + "_1").c_str()));
    if (!high) {
        return std::nullopt;
    }
    if (*high != 0) {
        return saturated;
    }
    return static_cast<std::int64_t>(std::min<std::uint64_t>(*low, saturated));
}

std::optional<std::int64_t> percent(plist::Node smart, const char* name) {
    const auto value = plist::int64Value(plist::item(smart, name));
    if (!value || *value < 0 || *value > 100) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> temperatureCelsius(plist::Node smart) {
    const auto kelvin = plist::int64Value(plist::item(smart, "TEMPERATURE"));
    if (!kelvin || *kelvin < 173 || *kelvin > 473) {
        return std::nullopt;
    }
    return *kelvin - 273;
}

// A limit in kelvin, as the temperature is: in degrees Celsius when plausible.
std::optional<std::int64_t> limitCelsius(plist::Node smart, const char* name) {
    const auto kelvin = plist::int64Value(plist::item(smart, name));
    if (!kelvin || *kelvin < 273 || *kelvin > 473) {
        return std::nullopt;
    }
    return *kelvin - 273;
}

std::optional<std::int64_t> sectors(plist::Node smart, const char* name) {
    const auto count = plist::uint64Value(plist::item(smart, name));
    return count ? std::optional<std::int64_t>(std::min<std::uint64_t>(*count, saturated))
                 : std::nullopt;
}

std::optional<std::string> text(plist::Node root, const char* name) {
    const auto value = plist::stringValue(plist::item(root, name));
    return value && !value->empty() ? std::optional<std::string>(*value) : std::nullopt;
}

std::optional<std::int64_t> remainingLife(plist::Node smart) {
    const auto used = plist::int64Value(plist::item(smart, "PERCENTAGE_USED"));
    if (!used || *used < 0 || *used > 255) {
        return std::nullopt;
    }
    return *used <= 100 ? 100 - *used : 0;
}

// A drive that reports no data units gets no byte total at all.
std::optional<std::int64_t> dataUnits(plist::Node smart, const std::string& name) {
    const auto units = counter(smart, name);
    if (!units || *units < 1) {
        return std::nullopt;
    }
    return units;
}

std::optional<std::int64_t> bytesOf(std::optional<std::int64_t> units) {
    if (!units) {
        return std::nullopt;
    }
    return *units > saturated / bytesPerDataUnit ? saturated : *units * bytesPerDataUnit;
}

} // namespace

std::optional<StorageHealthReading> StorageHealthReading::parse(std::string_view output,
                                                                std::string_view device) {
    const auto document = plist::parse(output);
    const plist::Node root = document.get();
    if (plist::entryCount(root) == 0) {
        return std::nullopt;
    }
    const auto identifier = plist::stringValue(plist::item(root, "DeviceIdentifier"));
    if (!identifier || *identifier != device) {
        return std::nullopt;
    }
    const plist::Node smart = plist::item(root, "SMARTDeviceSpecificKeysMayVaryNotGuaranteed");
    if (!plist::isDictionary(smart)) {
        return std::nullopt;
    }

    StorageHealthReading reading;
    reading.temperature = temperatureCelsius(smart);
    reading.life = remainingLife(smart);
    const auto unitsRead = dataUnits(smart, "DATA_UNITS_READ");
    const auto unitsWritten = dataUnits(smart, "DATA_UNITS_WRITTEN");
    reading.powerCycles = counter(smart, "POWER_CYCLES");
    reading.powerOnHours = counter(smart, "POWER_ON_HOURS");
    if (!reading.temperature && !reading.life && !unitsRead && !unitsWritten &&
        !reading.powerCycles && !reading.powerOnHours) {
        return std::nullopt;
    }
    reading.totalRead = bytesOf(unitsRead);
    reading.totalWritten = bytesOf(unitsWritten);
    reading.availableSpare = percent(smart, "AVAILABLE_SPARE");
    reading.spareThreshold = percent(smart, "AVAILABLE_SPARE_THRESHOLD");
    reading.unsafeShutdowns = counter(smart, "UNSAFE_SHUTDOWNS");
    reading.mediaErrors = counter(smart, "MEDIA_ERRORS");
    if (const auto warning = plist::int64Value(plist::item(smart, "CRITICAL_WARNING"));
        warning && *warning >= 0 && *warning <= 255) {
        reading.criticalWarning = warning;
    }
    if (const auto status = plist::stringValue(plist::item(root, "SMARTStatus"))) {
        if (*status == "Failing" || *status == "Verified") {
            reading.smartFailing = *status == "Failing";
        }
    }
    reading.reallocatedSectors = sectors(smart, "REALLOCATED_SECTOR_COUNT");
    reading.pendingSectors = sectors(smart, "CURRENT_PENDING_SECTOR");
    reading.uncorrectableSectors = sectors(smart, "OFFLINE_UNCORRECTABLE");
    reading.maxTemperature = limitCelsius(smart, "WARNING_TEMPERATURE");
    reading.criticalTemperature = limitCelsius(smart, "CRITICAL_TEMPERATURE");
    if (const auto updated = plist::int64Value(plist::item(root, "SMARTUpdated"));
        updated && *updated > 0) {
        reading.updated = updated;
    }
    if (const auto node = text(root, "DeviceNode"); node && node->starts_with("/dev/")) {
        reading.device = node->substr(5);
    }
    reading.model = text(root, "MediaName");
    reading.serial = text(root, "SerialNumber");
    return reading;
}

platform::ToolRun storageHealthToolRun(const std::string& name) {
    platform::ToolRun run;
    run.path = "/usr/sbin/diskutil";
    run.arguments = {"info", "-plist", name};
    run.environment = platform::ToolEnvironment::inherited();
    run.timeLimit = 2.0;
    run.qos = platform::WatchdogQoS::utility;
    return run;
}

std::optional<StorageHealthReading> readStorageHealth(platform::ToolRunner& runner,
                                                      const std::string& name) {
    const auto result = runner.run(storageHealthToolRun(name));
    if (!result.succeeded()) {
        return std::nullopt;
    }
    return StorageHealthReading::parse(result.output, name);
}

} // namespace brivane
