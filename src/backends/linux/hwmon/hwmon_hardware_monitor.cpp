#include "backends/linux/hwmon/hwmon_hardware_monitor.h"

#include "backends/linux/hwmon/hwmon_chip_traits.h"
#include "backends/linux/hwmon/hwmon_naming.h"
#include "backends/linux/hwmon/unset_limits.h"

#include <algorithm>

namespace brivane::platform::linux_backend {
namespace {

std::optional<double> celsiusOf(std::optional<std::int64_t> millidegrees) {
    if (!millidegrees || isTemperatureSentinel(*millidegrees)) {
        return std::nullopt;
    }
    return static_cast<double>(*millidegrees) / 1000;
}

// A value or limit in its kind's unit.
std::optional<double> scaled(SensorKind kind, std::optional<std::int64_t> raw) {
    if (!raw) {
        return std::nullopt;
    }
    const auto& hwmon = infoOf(kind).hwmon;
    return static_cast<double>(*raw) * hwmon.units / hwmon.perUnit;
}

} // namespace

HwmonHardwareMonitor::HwmonHardwareMonitor(const std::string& sysRoot,
                                           const SensorPoller::Setup& setup)
    : poller_(sysRoot, discoverMonitors,
              SensorPoller::Setup(setup).forBackEnd("hwmon", {"class/hwmon", "class/thermal"},
                                                    {"hwmon", "thermal"})),
      demand_(setup.demand), cards_(setup.cards) {}

void HwmonHardwareMonitor::adopt(const MonitorCatalog& catalog) {
    fanIds_.clear();
    turned_.clear();
    ghosts_.clear();
    for (const auto& fan : catalog.fans) {
        const auto next = static_cast<int>(fanIdByName_.size());
        fanIds_.push_back(fanIdByName_.try_emplace(fan.name, next).first->second);
        turned_.push_back(turnedFans_.contains(fan.name));
    }
    for (const auto& temperature : catalog.temperatures) {
        const auto ghost = ghostKeys_.find(temperature.key);
        ghosts_.push_back(ghost == ghostKeys_.end() ? std::nullopt : std::optional(ghost->second));
    }
    sample_.temperatures.reserve(catalog.temperatures.size());
    sample_.fans.reserve(catalog.fans.size());
    sample_.power.reserve(catalog.powers.size());
    sample_.sensors.reserve(catalog.sensors.size());
}

const MonitorSample& HwmonHardwareMonitor::sample() {
    sample_.temperatures.clear();
    sample_.fans.clear();
    sample_.power.clear();
    sample_.sources.clear();
    sample_.sensors.clear();
    // The back ends that wake with this one report with it; alone, it reports itself.
    sample_.sources = demand_ ? demand_->sources() : std::vector{poller_.source()};
    auto catalog = poller_.current();
    if (!catalog) {
        return sample_;
    }
    if (catalog != held_) {
        adopt(*catalog);
        held_ = std::move(catalog);
    }
    const ChannelSet& channels = *held_->channels;

    shownTemperatures_.assign(held_->temperatures.size(), false);
    shownFans_.assign(held_->fans.size(), false);
    std::optional<double> hottest;
    for (const auto& temperature : held_->temperatures) {
        const auto celsius = celsiusOf(channels.value(temperature.channel));
        if (temperature.processor && celsius && isPlausibleCelsius(*celsius)) {
            hottest = std::max(hottest.value_or(*celsius), *celsius);
        }
    }
    for (std::size_t i = 0; i < held_->temperatures.size(); ++i) {
        const auto& temperature = held_->temperatures[i];
        const auto celsius = celsiusOf(channels.value(temperature.channel));
        if (!celsius || !isPlausibleCelsius(*celsius)) {
            continue; // an unplugged probe's -40 °C is no reading, here and in `sensors`
        }
        // Judged again on every snapshot: a real sensor hidden once comes back.
        if (temperature.board) {
            if (isGhostTemperature(*celsius, hottest, ghosts_[i])) {
                if (!ghosts_[i]) {
                    ghosts_[i] = *celsius;
                    ghostKeys_.insert_or_assign(temperature.key, *celsius);
                }
                continue;
            }
            if (ghosts_[i]) {
                ghosts_[i].reset();
                ghostKeys_.erase(temperature.key);
            }
        }
        shownTemperatures_[i] = true;
        sample_.temperatures.push_back({temperature.key, *celsius});
    }

    for (std::size_t i = 0; i < held_->fans.size(); ++i) {
        const auto& fan = held_->fans[i];
        const auto rpm = channels.value(fan.channel);
        if (!rpm || !isPlausibleFanSpeed(static_cast<double>(*rpm))) {
            continue;
        }
        if (fan.board && !turned_[i]) {
            if (*rpm <= 0) {
                continue; // an empty header, until a fan on it turns
            }
            turned_[i] = true;
            turnedFans_.insert(fan.name);
        }
        // A maximum of 0 is a driver that does not know it; a minimum of 0 lets the fan stop.
        const auto speed = [&](std::optional<std::size_t> channel, bool zero) {
            const auto value = channel ? channels.value(*channel) : std::nullopt;
            return value && (zero || *value > 0) && isPlausibleFanSpeed(static_cast<double>(*value))
                       ? std::optional(static_cast<double>(*value))
                       : std::nullopt;
        };
        shownFans_[i] = true;
        sample_.fans.push_back({fanIds_[i], fan.name, static_cast<double>(*rpm),
                                speed(fan.maximum, false), speed(fan.minimum, true)});
    }

    // Of several cards, the busiest one's power fills the shared key, as the snapshot's
    // graphics shows the busiest card.
    std::optional<std::size_t> busiestCard;
    if (held_->cards > 1) {
        std::pair<double, std::int64_t> busiest{-2, 0}; // percent (-1: unknown), µW
        for (std::size_t i = 0; i < held_->powers.size(); ++i) {
            const auto& power = held_->powers[i];
            const auto microwatts = channels.value(power.channel);
            if (power.card.empty() || !microwatts) {
                continue;
            }
            const std::pair rank{cards_ ? cards_->percent(power.card).value_or(-1) : -1.0,
                                 *microwatts};
            if (rank > busiest) {
                busiest = rank;
                busiestCard = i;
            }
        }
    }
    for (std::size_t i = 0; i < held_->powers.size(); ++i) {
        const auto& power = held_->powers[i];
        if (const auto microwatts = channels.value(power.channel)) {
            const bool another = !power.card.empty() && busiestCard && *busiestCard != i;
            sample_.power.push_back({power.key, static_cast<double>(*microwatts) * 1e-6,
                                     another ? std::string_view() : power.alias});
        }
    }
    addSensors(channels);
    return sample_;
}

void HwmonHardwareMonitor::addSensors(const ChannelSet& channels) {
    for (const auto& sensor : held_->sensors) {
        const auto value = scaled(sensor.kind, channels.value(sensor.channel));
        const bool hidden = sensor.listed && (sensor.kind == SensorKind::temperature
                                                  ? !shownTemperatures_[*sensor.listed]
                                                  : !shownFans_[*sensor.listed]);
        if (!value || hidden) {
            continue;
        }
        MonitorSensor& shown = sample_.sensors.emplace_back();
        shown.key = sensor.key;
        shown.kind = sensor.kind;
        if (!sensor.flagOnly) {
            shown.value = *value;
        }
        RawLimits limits{};
        for (std::size_t i = 0; i < sensor.limits.size(); ++i) {
            if (sensor.limits[i]) {
                limits[i] = channels.value(*sensor.limits[i]);
            }
        }
        limits = withoutUnsetLimits(sensor.driver, sensor.kind, limits);
        for (std::size_t i = 0; i < sensor.limits.size(); ++i) {
            shown.limits[i] = scaled(sensor.kind, limits[i]);
            if (sensor.alarms[i]) {
                if (const auto raised = channels.value(*sensor.alarms[i])) {
                    shown.alarms[i] = *raised != 0;
                }
            }
        }
        if (sensor.fault) {
            if (const auto fault = channels.value(*sensor.fault)) {
                shown.fault = *fault != 0;
            }
        }
    }
}

} // namespace brivane::platform::linux_backend
