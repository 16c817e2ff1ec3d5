#include "reports.h"

#include "disk_names.h"

namespace brivane::system_tools {
namespace {

const std::string upowerService = "org.freedesktop.UPower";
const std::string upowerDevice = "org.freedesktop.UPower.Device";
const std::string udisksService = "org.freedesktop.UDisks2";

std::vector<PowerSourceFacts> upowerAccessories(SystemBus& bus) {
    std::vector<PowerSourceFacts> accessories;
    for (const auto& path : bus.upowerDevicePaths().value_or(std::vector<std::string>{})) {
        if (const auto device = bus.allProperties(upowerService, path, upowerDevice)) {
            if (auto facts = upowerAccessory(*device)) {
                accessories.push_back(std::move(*facts));
            }
        }
    }
    return accessories;
}

std::optional<DriveFacts> udisksDrive(SystemBus& bus, std::string_view kernelName) {
    const auto objects = bus.managedObjects(udisksService, "/org/freedesktop/UDisks2");
    const auto drive = objects ? udisksDriveOf(*objects, kernelName) : std::nullopt;
    if (!drive) {
        return std::nullopt;
    }
    const auto& [path, interfaces] = *drive;
    DriveFacts facts;
    if (const auto found = interfaces.find("org.freedesktop.UDisks2.Drive");
        found != interfaces.end()) {
        facts.drive = found->second;
    }
    if (const auto nvme = interfaces.find("org.freedesktop.UDisks2.NVMe.Controller");
        nvme != interfaces.end()) {
        facts.nvme = nvme->second;
        facts.nvmeAttributes = bus.nvmeSmartAttributes(path).value_or(BusProperties{});
    } else if (const auto ata = interfaces.find("org.freedesktop.UDisks2.Drive.Ata");
               ata != interfaces.end()) {
        facts.ata = ata->second;
        facts.ataAttributes = bus.ataSmartAttributes(path).value_or(std::vector<AtaAttribute>{});
    }
    return facts;
}

} // namespace

std::string powerSourcesReport(const RootedDirectory& sys, SystemBus* bus) {
    const auto supplies = powerSupplies(sys);
    std::vector<std::vector<PowerSourceFacts>> sources(3);
    if (bus != nullptr) {
        sources[0] = upowerAccessories(*bus);
        if (const auto objects = bus->managedObjects("org.bluez", "/")) {
            sources[1] = bluezAccessories(*objects);
        }
    }
    for (const auto& supply : supplies) {
        if (auto facts = powerSupplyAccessory(supply)) {
            sources[2].push_back(std::move(*facts));
        }
    }
    return powerSourceDocuments(internalBattery(supplies), mergeAccessories(sources));
}

std::optional<std::string> diskInfoReport(const RootedDirectory& sys, SystemBus* bus,
                                          std::string_view name) {
    const auto number = diskNumber(name);
    const auto disks = wholeDisks(blockDevices(sys));
    if (!number || *number >= disks.size()) {
        return std::nullopt;
    }
    auto facts = sysfsDiskFacts(sys, disks[*number]);
    facts.identifier = std::string(name);
    if (bus != nullptr) {
        facts.drive = udisksDrive(*bus, facts.kernelName);
    }
    return diskDescription(facts);
}

std::string diskListReport(const RootedDirectory& sys) {
    std::string out;
    const auto disks = wholeDisks(blockDevices(sys));
    for (std::size_t i = 0; i < disks.size(); ++i) {
        out += diskName(i) + '\t' + disks[i] + '\n';
    }
    return out;
}

} // namespace brivane::system_tools
