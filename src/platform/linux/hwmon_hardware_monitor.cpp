#include "platform/linux/hwmon_hardware_monitor.h"

#include <set>

namespace brivane::platform::linux_backend {

HwmonHardwareMonitor::HwmonHardwareMonitor(std::string sysRoot, SensorTiming timing,
                                           host::KeptValue::Pread pread)
    : channels_(sysRoot, timing, pread) {}

void HwmonHardwareMonitor::discover() {
    const auto chips = listHwmonChips(channels_.root(),
                                      [](std::string_view name) { return !isSMCChipName(name); });
    std::vector<ChipIdentity> identities;
    identities.reserve(chips.size());
    for (const auto& chip : chips) {
        identities.push_back(chip.identity);
    }
    const auto chipNames = uniqueChipNames(identities);

    for (std::size_t i = 0; i < chips.size(); ++i) {
        std::set<std::string, std::less<>> labels;
        for (const auto& channel : chips[i].channels) {
            if (channel.kind == SensorKind::power) {
                continue;
            }
            // A label twice on one chip would give two sensors one key; the second goes by
            // its stem, which the chip cannot repeat.
            std::string label = attributeStem(channel.kind, channel.index);
            if (channel.label && labels.insert(*channel.label).second) {
                label = *channel.label;
            }
            const auto value = channels_.add(channel.input);
            if (!value) {
                continue;
            }
            if (channel.kind == SensorKind::temperature) {
                temperatures_.push_back({chipNames[i] + "/" + label, *value});
            } else {
                const auto maximum =
                    channel.maximum.empty() ? std::nullopt : channels_.add(channel.maximum);
                fans_.push_back(
                    {static_cast<int>(fans_.size()), chipNames[i] + "/" + label, *value, maximum});
            }
        }
    }
    channels_.start();
    sample_.temperatures.reserve(temperatures_.size());
    sample_.fans.reserve(fans_.size());
}

const MonitorSample& HwmonHardwareMonitor::sample() {
    if (!discovered_) {
        discover();
        discovered_ = true;
    }
    sample_.temperatures.clear();
    sample_.fans.clear();
    for (const auto& temperature : temperatures_) {
        const auto millidegrees = channels_.value(temperature.channel);
        if (millidegrees && !isTemperatureSentinel(*millidegrees)) {
            sample_.temperatures.push_back(
                {temperature.key, static_cast<double>(*millidegrees) / 1000});
        }
    }
    for (const auto& fan : fans_) {
        const auto rpm = channels_.value(fan.channel);
        if (!rpm) {
            continue;
        }
        std::optional<double> maximum;
        if (fan.maximum) {
            // A maximum of 0 is a driver that does not know it.
            if (const auto value = channels_.value(*fan.maximum); value && *value > 0) {
                maximum = static_cast<double>(*value);
            }
        }
        sample_.fans.push_back({fan.index, fan.name, static_cast<double>(*rpm), maximum});
    }
    return sample_;
}

} // namespace brivane::platform::linux_backend
