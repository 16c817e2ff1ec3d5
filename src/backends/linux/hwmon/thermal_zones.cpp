#include "backends/linux/hwmon/thermal_zones.h"

#include "backends/linux/hwmon/hwmon_tree.h"

#include <algorithm>
#include <array>

namespace brivane::platform::linux_backend {
namespace {

constexpr std::string_view zonePrefix = "thermal_zone";

// The package sensor coretemp also reads.
constexpr std::array<std::string_view, 4> packageZones = {"x86_pkg_temp", "TCPU", "TCPU_PCI",
                                                          "B0D4"};

std::string hwmonName(std::string_view type) {
    std::string name(type);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

bool isVirtual(std::string_view linkTarget) {
    return linkTarget.find("devices/virtual/") != std::string_view::npos;
}

} // namespace

std::vector<ZoneSensor> zonesToRead(const std::vector<ThermalZone>& zones,
                                    const std::vector<ChipIdentity>& chips) {
    const bool coretemp = std::any_of(chips.begin(), chips.end(),
                                      [](const auto& chip) { return chip.name == "coretemp"; });
    const auto twinned = [&chips](const ThermalZone& zone) {
        return zone.hwmonChild ||
               std::any_of(chips.begin(), chips.end(), [&zone](const ChipIdentity& chip) {
                   return isVirtual(chip.linkTarget) &&
                          hwmonName(chip.name) == hwmonName(zone.type);
               });
    };
    // Kept zones as channels labelled by type, so that a repeated type is numbered as a
    // repeated hwmon label is.
    std::vector<ZoneSensor> sensors;
    std::vector<HwmonChannel> labelled;
    for (const auto& zone : zones) {
        const bool package =
            std::find(packageZones.begin(), packageZones.end(), zone.type) != packageZones.end();
        if (twinned(zone) || zone.type == "INT3400 Thermal" || (package && coretemp)) {
            continue;
        }
        sensors.push_back({zone.folder + "/temp", {}, package});
        labelled.emplace_back().label =
            zone.type.empty() ? zone.folder.substr(zone.folder.rfind('/') + 1) : zone.type;
    }
    const auto labels = uniqueLabels(labelled);
    for (std::size_t i = 0; i < sensors.size(); ++i) {
        sensors[i].key = std::string(thermalZoneChip) + "/" + labels[i];
    }
    return sensors;
}

std::vector<ThermalZone> listThermalZones(const posix::RootedDirectory& sys) {
    std::vector<std::string> names;
    for (auto& name : sys.list("class/thermal")) {
        if (name.starts_with(zonePrefix) && name.size() > zonePrefix.size()) {
            names.push_back(std::move(name));
        }
    }
    // By number: thermal_zone2 before thermal_zone10.
    std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    std::vector<ThermalZone> zones;
    for (const auto& name : names) {
        ThermalZone& zone = zones.emplace_back();
        zone.folder = "class/thermal/" + name;
        const auto type = sys.readText((zone.folder + "/type").c_str(), 256);
        zone.type = type ? cleanLabel(*type).value_or("") : "";
        sys.forEachEntry(zone.folder.c_str(), [&zone](std::string_view entry) {
            zone.hwmonChild = zone.hwmonChild || entry.starts_with("hwmon");
        });
    }
    return zones;
}

} // namespace brivane::platform::linux_backend
