#include "reports.h"

#include "disk-names/disk_names.h"
#include "nvme-health/nvme_controllers.h"

namespace brivane::system_tools {

std::string powerSourcesReport(const RootedDirectory& sys, SystemBus* bus) {
    const auto supplies = powerSupplies(sys);
    std::vector<std::vector<PowerSourceFacts>> sources(3);
    if (bus != nullptr) {
        for (const auto& device : bus->upowerDevices()) {
            if (auto facts = upowerAccessory(device)) {
                sources[0].push_back(std::move(*facts));
            }
        }
        if (const auto objects = bus->bluezObjects()) {
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
                                          std::string_view name,
                                          const RootedDirectory& healthLogs) {
    const auto number = diskNumber(name);
    const auto disks = wholeDisks(blockDevices(sys));
    if (!number || *number >= disks.size()) {
        return std::nullopt;
    }
    auto facts = sysfsDiskFacts(sys, disks[*number]);
    facts.identifier = std::string(name);
    if (bus != nullptr) {
        facts.drive = bus->udisksDrive(facts.kernelName);
    }
    if (const auto controller = nvmeControllerOf(sys, facts.kernelName)) {
        if (const auto text = healthLogs.readText(controller->c_str(), healthFileLimit)) {
            facts.healthLog = parseHealthFile(*text);
        }
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
