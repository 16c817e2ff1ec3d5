#include "backends/linux/power/system_batteries.h"

#include "backends/linux/hwmon/hwmon_tree.h"
#include "backends/linux/power/power_supply.h"

#include <algorithm>
#include <array>

namespace brivane::platform::linux_backend {

namespace {

struct File {
    const char* leaf;
    std::optional<std::int64_t> SupplyReading::*field;
};

constexpr std::array<File, 15> files{{
    {"capacity", &SupplyReading::capacity},
    {"power_now", &SupplyReading::powerNow},
    {"current_now", &SupplyReading::currentNow},
    {"voltage_now", &SupplyReading::voltageNow},
    {"voltage_min_design", &SupplyReading::voltageMinDesign},
    {"energy_now", &SupplyReading::energyNow},
    {"energy_full", &SupplyReading::energyFull},
    {"energy_full_design", &SupplyReading::energyFullDesign},
    {"charge_now", &SupplyReading::chargeNow},
    {"charge_full", &SupplyReading::chargeFull},
    {"charge_full_design", &SupplyReading::chargeFullDesign},
    {"cycle_count", &SupplyReading::cycleCount},
    {"time_to_empty_now", &SupplyReading::timeToEmptyNow},
    {"time_to_full_now", &SupplyReading::timeToFullNow},
    {"temp", &SupplyReading::temperature},
}};

// Platform chips that carry the battery's temperature when its supply has none.
struct BatteryProbe {
    std::string_view chip;
    std::string_view label;
};
constexpr std::array<BatteryProbe, 1> batteryProbes{{
    {"steamdeck_hwmon", "Battery Temp"},
}};

bool measuresTheBattery(std::string_view chip) {
    return std::any_of(batteryProbes.begin(), batteryProbes.end(),
                       [chip](const BatteryProbe& probe) { return probe.chip == chip; });
}

} // namespace

void SystemBatteries::discover(ChannelSet& channels) {
    const posix::RootedDirectory& sys = channels.root();
    for (const auto& supply : sys.list("class/power_supply")) {
        const std::string base = "class/power_supply/" + supply;
        if (!isSystemBattery(sys, base))
            continue;
        Battery& battery = batteries_.emplace_back();
        const std::string path = base + "/status";
        auto status = std::make_shared<posix::KeptValue>(sys, path.c_str(), channels.pread());
        // The state as a number, so that the lanes read it as they read the values.
        battery.status = channels.addProbe(path, {}, [status]() -> posix::Reading<std::int64_t> {
            std::array<char, 32> buffer;
            const posix::FileText text = status->readInto(buffer);
            const auto state = text.outcome == posix::Outcome::value
                                   ? parseBatteryState(posix::withoutNewline(text.text))
                                   : std::nullopt;
            if (!state)
                return {text.outcome == posix::Outcome::value ? posix::Outcome::absentNow
                                                              : text.outcome,
                        std::nullopt};
            return {posix::Outcome::value, static_cast<std::int64_t>(*state)};
        });
        for (const File& file : files)
            if (const auto channel = channels.add(base + "/" + file.leaf))
                battery.files.emplace_back(file.field, *channel);
    }
    if (batteries_.empty())
        return;
    for (const HwmonChip& chip : listHwmonChips(sys, measuresTheBattery))
        for (const HwmonChannel& channel : chip.channels)
            for (const BatteryProbe& probe : batteryProbes)
                if (!boardTemperature_ && channel.kind == SensorKind::temperature &&
                    probe.chip == chip.identity.name && channel.label == probe.label)
                    boardTemperature_ = channels.add(channel.input);
}

BatteryStatus SystemBatteries::read(const ChannelSet& channels) const {
    std::array<SupplyReading, 4> readings{}; // more batteries than that: the first four
    const std::size_t count = std::min(batteries_.size(), readings.size());
    for (std::size_t i = 0; i < count; ++i) {
        const Battery& battery = batteries_[i];
        if (const auto state = channels.value(battery.status))
            readings[i].state = static_cast<BatteryState>(*state);
        for (const auto& [field, channel] : battery.files)
            readings[i].*field = channels.value(channel);
    }
    BatteryStatus status = combineBatteries(std::span<const SupplyReading>(readings.data(), count));
    if (!status.celsius && boardTemperature_) {
        const auto millidegrees = channels.value(*boardTemperature_);
        if (millidegrees && !isTemperatureSentinel(*millidegrees))
            status.celsius = static_cast<double>(*millidegrees) / 1000;
    }
    return status;
}

} // namespace brivane::platform::linux_backend
