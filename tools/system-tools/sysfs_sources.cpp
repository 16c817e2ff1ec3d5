#include "sysfs_sources.h"

#include "backends/linux/hwmon/temperature_sentinel.h"
#include "backends/linux/hwmon/unset_limits.h"
#include "nvme-health/nvme_controllers.h"

#include <cstdint>
#include <limits>

namespace brivane::system_tools {
namespace {

using platform::posix::withoutNewline;

constexpr std::uint64_t bytesPerSector = 512;

std::optional<std::string> optionalText(const RootedDirectory& directory, const char* relative) {
    const auto text = directory.readText(relative);
    return text ? std::optional<std::string>(withoutNewline(*text)) : std::nullopt;
}

std::string textOf(const RootedDirectory& directory, const char* relative) {
    return optionalText(directory, relative).value_or(std::string());
}

std::optional<std::int64_t> integerOf(const RootedDirectory& directory, const char* relative) {
    return directory.readInteger(relative).value;
}

// Right-trimmed: SCSI model strings are blank-padded to their field width.
std::optional<std::string> trimmed(std::optional<std::string> text) {
    if (text) {
        text->erase(text->find_last_not_of(" \t") + 1);
    }
    return text;
}

// A disk's own hardware monitor: the nvme chip hangs off the controller (the namespace's device)
// on current kernels and off the PCI function (one level up) on older ones; drivetemp off the
// SCSI device's hwmon folder.
RootedDirectory diskMonitor(const RootedDirectory& disk) {
    for (const char* parent : {"device", "device/device", "device/hwmon"}) {
        const auto directory = disk.subdirectory(parent);
        for (const auto& entry : directory.list(".")) {
            if (!entry.starts_with("hwmon")) {
                continue;
            }
            auto chip = directory.subdirectory(entry.c_str());
            const auto name = textOf(chip, "name");
            const auto label = optionalText(chip, "temp1_label");
            if ((name == "nvme" && (!label || *label == "Composite")) || name == "drivetemp") {
                return chip;
            }
        }
    }
    return {};
}

// Millidegrees, unless the driver's "no reading" sentinel.
std::optional<std::int64_t> temperatureOf(const RootedDirectory& chip, const char* file) {
    const auto millidegrees = integerOf(chip, file);
    if (millidegrees && platform::linux_backend::isTemperatureSentinel(*millidegrees)) {
        return std::nullopt;
    }
    return millidegrees;
}

} // namespace

std::vector<PowerSupplyEntry> powerSupplies(const RootedDirectory& sys) {
    const auto classDirectory = sys.subdirectory("class/power_supply");
    std::vector<PowerSupplyEntry> entries;
    for (auto& name : classDirectory.list(".")) {
        const auto supply = classDirectory.subdirectory(name.c_str());
        if (!supply.valid()) {
            continue;
        }
        PowerSupplyEntry entry;
        entry.type = textOf(supply, "type");
        entry.scope = optionalText(supply, "scope");
        entry.status = textOf(supply, "status");
        entry.modelName = textOf(supply, "model_name");
        entry.serialNumber = textOf(supply, "serial_number");
        entry.capacity = integerOf(supply, "capacity");
        entry.capacityLevel = textOf(supply, "capacity_level");
        entry.present = integerOf(supply, "present");
        entry.name = std::move(name);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<std::string> blockDevices(const RootedDirectory& sys) {
    return sys.list("block");
}

DiskFacts sysfsDiskFacts(const RootedDirectory& sys, const std::string& kernelName) {
    DiskFacts facts;
    facts.kernelName = kernelName;
    const auto disk = sys.subdirectory(("block/" + kernelName).c_str());
    if (const auto sectors = disk.readCounter("size").value;
        sectors && *sectors <= std::numeric_limits<std::uint64_t>::max() / bytesPerSector) {
        facts.sizeBytes = *sectors * bytesPerSector;
    }
    if (const auto rotational = integerOf(disk, "queue/rotational")) {
        facts.rotational = *rotational != 0;
    }
    facts.model = trimmed(optionalText(disk, "device/model"));
    facts.serial = trimmed(optionalText(disk, "device/serial"));
    // The nvme driver asks the drive for each figure: a runtime-suspended one is left asleep.
    // drivetemp's limits are those it read when the disk appeared.
    if (runtimeSuspended(disk.subdirectory("device")) ||
        runtimeSuspended(disk.subdirectory("device/device"))) {
        return facts;
    }
    if (const auto chip = diskMonitor(disk); chip.valid()) {
        if (kernelName.starts_with("nvme")) {
            facts.hwmonMillicelsius = temperatureOf(chip, "temp1_input");
        }
        // Limits the driver reports when the drive has none are left out, as for any chip.
        using platform::SensorLimit;
        platform::linux_backend::RawLimits limits{};
        limits[static_cast<std::size_t>(SensorLimit::max)] = integerOf(chip, "temp1_max");
        limits[static_cast<std::size_t>(SensorLimit::crit)] = integerOf(chip, "temp1_crit");
        limits = platform::linux_backend::withoutUnsetLimits(
            textOf(chip, "name"), platform::SensorKind::temperature, limits);
        facts.hwmonMaxMillicelsius = limits[static_cast<std::size_t>(SensorLimit::max)];
        facts.hwmonCritMillicelsius = limits[static_cast<std::size_t>(SensorLimit::crit)];
    }
    return facts;
}

} // namespace brivane::system_tools
