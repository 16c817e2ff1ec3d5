#include "backends/linux/hwmon/hwmon_monitor_catalog.h"

#include "backends/linux/hwmon/hwmon_chip_traits.h"
#include "backends/linux/hwmon/hwmon_tree.h"
#include "backends/linux/hwmon/thermal_zones.h"
#include "backends/linux/polling/counter_file.h"
#include "platform/snapshot_keys.h"

#include <algorithm>
#include <numeric>
#include <set>

namespace brivane::platform::linux_backend {
namespace {

std::string_view aliasOf(PowerRole role) {
    switch (role) {
    case PowerRole::none:
        return {};
    case PowerRole::system:
        return snapshot_key::systemPower;
    case PowerRole::cpu:
        return snapshot_key::cpuModelPower;
    case PowerRole::graphics:
        return snapshot_key::gpuModelPower;
    }
    return {};
}

// An AMD APU's graphics driver reports the whole chip's power, processor included; its
// northbridge voltage (in1) exists on APUs only.
bool isAPU(const posix::RootedDirectory& sys, const HwmonChip& chip) {
    return chip.identity.name == "amdgpu" &&
           posix::FileDescriptor(
               sys.openRegular(("class/hwmon/" + chip.identity.node + "/in1_input").c_str()))
               .valid();
}

// The runtime power state of the PCI device a chip sits on (a graphics card, a drive): its
// files are not read while it is suspended. Null for a chip on no PCI device.
std::shared_ptr<RuntimeSuspend> pciGuard(ChannelSet& channels, const HwmonChip& chip) {
    const auto path = resolveLink("class/hwmon", chip.identity.linkTarget);
    const std::string_view device = path ? pciFunctionFolder(*path) : std::string_view();
    if (device.empty()) {
        return nullptr;
    }
    return channels.runtimeSuspend(std::string(device) + "/power/runtime_status");
}

// Limits change when someone sets them: read at discovery and then once a minute.
constexpr double kLimitSeconds = 60;

// A sensor's limit and flag files, added once every input is, so that the inputs are the files
// kept open when there are more files than kept descriptors.
struct Extras {
    std::size_t sensor = 0;
    const HwmonChannel* channel = nullptr;
    ChannelPace pace;
    std::shared_ptr<RuntimeSuspend> guard;
};

ChannelPace limitPace(ChannelPace pace) {
    return {pace.slow, std::max(pace.minimumInterval, kLimitSeconds)};
}

void addExtras(ChannelSet& channels, MonitorCatalog::Sensor& sensor, const Extras& extras) {
    const HwmonChannel& channel = *extras.channel;
    for (std::size_t i = 0; i < channel.limits.size(); ++i) {
        if (!channel.limits[i].empty()) {
            sensor.limits[i] =
                channels.add(channel.limits[i], limitPace(extras.pace), extras.guard);
        }
        if (!channel.alarms[i].empty()) {
            sensor.alarms[i] = channels.add(channel.alarms[i], extras.pace, extras.guard);
        }
    }
    if (!channel.fault.empty()) {
        sensor.fault = channels.add(channel.fault, extras.pace, extras.guard);
    }
}

} // namespace

std::shared_ptr<const MonitorCatalog>
discoverMonitors(const std::shared_ptr<ChannelSet>& channels) {
    auto catalog = std::make_shared<MonitorCatalog>();
    catalog->channels = channels;
    const posix::RootedDirectory& sys = channels->root();
    const auto chips =
        listHwmonChips(sys, [](std::string_view name) { return name != intelSMCChip; });
    std::vector<ChipIdentity> identities;
    identities.reserve(chips.size());
    for (const auto& chip : chips) {
        identities.push_back(chip.identity);
    }
    const auto names = uniqueChipNames(identities);
    // Stable names give a stable order, whatever order the drivers loaded in.
    std::vector<std::size_t> order(chips.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&names](std::size_t a, std::size_t b) { return names[a] < names[b]; });

    std::set<std::string, std::less<>> cards;
    std::vector<Extras> extras;
    for (const std::size_t i : order) {
        const HwmonChip& chip = chips[i];
        const ChipTraits traits = chipTraits(chip.identity.name);
        const ChannelPace pace{traits.slow, traits.cacheSeconds};
        const bool appleSilicon = chip.identity.name == appleSiliconSMCChip;
        const bool apu = isAPU(sys, chip);
        const auto guard = pciGuard(*channels, chip);
        const auto labels = uniqueLabels(chip.channels);
        for (std::size_t c = 0; c < chip.channels.size(); ++c) {
            const HwmonChannel& channel = chip.channels[c];
            const std::string_view given = channel.label ? std::string_view(*channel.label) : "";
            if (appleSilicon && appleSiliconKeyForLabel(channel.kind, given)) {
                continue; // the SMC transport serves it under its key
            }
            const std::string& label = labels[c];
            // A channel with limits alone is read at their pace.
            const bool limitsOnly = std::find(channel.limits.begin(), channel.limits.end(),
                                              channel.input) != channel.limits.end();
            const auto value =
                channels->add(channel.input, limitsOnly ? limitPace(pace) : pace, guard);
            if (!value) {
                continue;
            }
            auto& sensor = catalog->sensors.emplace_back();
            sensor.kind = channel.kind;
            sensor.driver = chip.identity.name;
            sensor.channel = *value;
            sensor.flagOnly = channel.flagOnly;
            extras.push_back({catalog->sensors.size() - 1, &channel, pace, guard});
            switch (channel.kind) {
            case SensorKind::temperature:
                sensor.listed = catalog->temperatures.size();
                catalog->temperatures.push_back(
                    {names[i] + "/" + label, *value, traits.listsEveryHeader, traits.cpu});
                break;
            case SensorKind::fan: {
                const auto limit = [&](SensorLimit which) {
                    const std::string& file = channel.limit(which);
                    return file.empty() ? std::nullopt : channels->add(file, pace, guard);
                };
                sensor.listed = catalog->fans.size();
                catalog->fans.push_back({names[i] + "/" + label, *value, limit(SensorLimit::max),
                                         limit(SensorLimit::min), traits.listsEveryHeader});
                break;
            }
            case SensorKind::power:
                if (channel.flagOnly) {
                    break; // no figure for `power`
                }
                if (apu) {
                    catalog->powers.push_back(
                        {names[i] + "/" + label + " (CPU and GPU)", {}, *value, {}});
                } else {
                    const bool card = traits.power == PowerRole::graphics;
                    catalog->powers.push_back(
                        {names[i] + "/" + label, aliasOf(traits.power), *value,
                         card ? deviceAddressOf(chip.identity.linkTarget).text : std::string()});
                    if (card) {
                        cards.insert(catalog->powers.back().card);
                    }
                }
                break;
            default:
                break; // listed below only
            }
            // The key the same input has in the lists above.
            sensor.key = channel.kind == SensorKind::power && !channel.flagOnly
                             ? catalog->powers.back().key
                             : names[i] + "/" + label;
        }
    }
    // Zones after the chips, in zone order: a board sensor no chip shows.
    for (const auto& zone : zonesToRead(listThermalZones(sys), identities)) {
        if (const auto value = channels->add(zone.input)) {
            catalog->temperatures.push_back({zone.key, *value, false, zone.processor});
        }
    }
    for (const Extras& found : extras) {
        addExtras(*channels, catalog->sensors[found.sensor], found);
    }
    catalog->cards = cards.size();
    return catalog;
}

} // namespace brivane::platform::linux_backend
