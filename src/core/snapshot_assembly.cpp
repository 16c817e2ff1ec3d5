#include "core/battery_essentials.h"
#include "core/graphics_cards.h"
#include "core/sensor_companion.h"
#include "core/sensor_details.h"
#include "platform/registry_names.h"
#include "platform/sensor_kinds.h"
#include "platform/snapshot_keys.h"
#include "readers/accessory_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace brivane {
namespace {

namespace key = platform::snapshot_key;

constexpr double maximumPowerKeyValue = 1000;
constexpr double maximumFanCount = 10;

bool within(double value, double lowest, double highest) {
    return value >= lowest && value <= highest;
}

// "F" index suffix, built in place: the fan loop runs on every snapshot.
class FanKey {
public:
    FanKey(int index, std::string_view suffix) {
        text_[length_++] = 'F';
        char digits[12];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + index % 10);
            index /= 10;
        } while (index > 0);
        while (count > 0) {
            text_[length_++] = digits[--count];
        }
        for (const char c : suffix) {
            text_[length_++] = c;
        }
    }
    operator std::string_view() const { return {text_.data(), length_}; }

private:
    std::array<char, 16> text_{};
    std::size_t length_ = 0;
};

// The statistics value for key when it is a percentage from 0 to 100.
std::optional<double> percentage(const platform::RegistryDictionary& statistics,
                                 std::string_view key) {
    const auto found = statistics.find(key);
    if (found == statistics.end()) {
        return std::nullopt;
    }
    const auto* number = std::get_if<double>(&found->second);
    if (!number || !within(*number, 0, 100)) {
        return std::nullopt;
    }
    return *number;
}

std::optional<double> fraction(const platform::RegistryDictionary& statistics,
                               std::string_view key) {
    const auto value = percentage(statistics, key);
    return value ? std::optional<double>(*value / 100) : std::nullopt;
}

} // namespace

SensorSnapshot SensorCompanion::assembleSnapshot() {
    SensorSnapshot snapshot;
    const auto& keys = discoveredTemperatureKeys();
    const platform::MonitorSample& monitors = hardwareMonitor_->sample();
    snapshot.temperatures.reserve(keys.size() + monitors.temperatures.size() + 1);
    for (const auto& smcKey : keys) {
        const auto value = reader->getValue(smcKey, false);
        if (value && platform::isPlausibleCelsius(*value)) {
            snapshot.temperatures.push_back({smcKey, *value});
        }
    }
    // The monitors keep only plausible temperatures, so their `sensors` entries agree.
    for (const auto& temperature : monitors.temperatures) {
        snapshot.temperatures.push_back({std::string(temperature.key), temperature.celsius});
    }

    BatteryReadings battery = batteryReadings();
    if (battery.temperature) {
        snapshot.temperatures.push_back(
            {std::string(key::batteryTemperature), *battery.temperature});
    }
    snapshot.fans = fans(monitors);
    snapshot.version = SensorSnapshot::schemaVersion;
    snapshot.helperUID = processTable_->realUserID();
    snapshot.helperEffectiveUID = processTable_->effectiveUserID();

    auto& power = snapshot.power.emplace();
    auto energy = energyPowerReader->read();
    power.reserve(key::smcPower.size() + energy.size() + 2 * monitors.power.size() + 2);
    for (const auto smcKey : key::smcPower) {
        const auto value = reader->getValue(smcKey, true);
        if (value && within(*value, 0, maximumPowerKeyValue)) {
            power.push_back({std::string(smcKey), *value});
        }
    }
    std::move(energy.begin(), energy.end(), std::back_inserter(power));
    // A monitor's figure also fills the snapshot's own key for it when no source above did.
    for (const auto& figure : monitors.power) {
        if (!within(figure.watts, 0, maximumPowerKeyValue)) {
            continue;
        }
        power.push_back({std::string(figure.key), figure.watts});
        if (!figure.alias.empty() &&
            std::none_of(power.begin(), power.end(),
                         [&figure](const auto& reading) { return reading.key == figure.alias; })) {
            power.push_back({std::string(figure.alias), figure.watts});
        }
    }
    if (auto totals = energyPowerReader->totals(); !totals.empty()) {
        snapshot.energy = std::move(totals);
    }
    if (battery.dischargePower) {
        power.push_back({std::string(key::batteryPower), *battery.dischargePower});
    }
    if (battery.voltage) {
        power.push_back({std::string(key::batteryVoltage), *battery.voltage});
    }

    auto graphicsReadings = graphics();
    snapshot.graphics = graphicsReadings.first;
    snapshot.accessories = accessories();
    snapshot.supportsProcessDetails = true;
    snapshot.supportsStorageHealth = true;
    snapshot.supportsManagement = true;
    snapshot.companionVersion = companionVersion_;
    snapshot.battery = std::move(battery.essentials);
    if (!monitors.sources.empty()) {
        auto& sources = snapshot.sources.emplace();
        auto& retired = snapshot.retiredFiles.emplace();
        for (const auto& source : monitors.sources) {
            sources.push_back({source.name, source.up});
            retired.push_back({source.name, static_cast<std::int64_t>(source.retiredFiles)});
        }
    }
    snapshot.sensors = sensorDetails(monitors.sensors);
    snapshot.gpus = std::move(graphicsReadings.cards);
    return snapshot;
}

const std::vector<std::string>& SensorCompanion::discoveredTemperatureKeys() {
    if (!temperatureKeys) {
        // Kept even when empty: enumerating the SMC costs one request per key.
        auto keys = reader->getAllKeys();
        std::erase_if(keys, [](const std::string& key) { return !key.starts_with('T'); });
        std::sort(keys.begin(), keys.end());
        temperatureKeys = std::move(keys);
    }
    return *temperatureKeys;
}

SensorCompanion::BatteryReadings SensorCompanion::batteryReadings() {
    BatteryReadings readings;
    namespace property = platform::battery_property;
    const auto battery = registry_->firstEntry(platform::registry_class::battery);
    if (!battery) {
        return readings;
    }
    if (const auto hundredths = battery->numberProperty(property::temperature);
        hundredths && within(*hundredths, 1, 10000)) {
        readings.temperature = *hundredths / 100;
    }
    if (const auto millivolts = battery->numberProperty(property::voltage);
        millivolts && within(*millivolts, 1000, 30000)) {
        readings.voltage = *millivolts / 1000;
    }
    readings.essentials = batteryEssentials(*battery);
    if (readings.essentials && readings.essentials->state == "discharging") {
        readings.dischargePower = readings.essentials->power;
    }
    return readings;
}

std::vector<SensorSnapshot::FanReading>
SensorCompanion::fans(const platform::MonitorSample& monitors) {
    std::vector<SensorSnapshot::FanReading> result;
    const auto count = reader->getValue("FNum", false);
    const int fanCount = count && within(*count, 1, maximumFanCount) ? static_cast<int>(*count) : 0;
    result.reserve(static_cast<std::size_t>(fanCount) + monitors.fans.size());
    // JSON cannot carry a non-finite number; one would cost the client the whole snapshot.
    const auto finite = [](std::optional<double> value) {
        return value && std::isfinite(*value) ? value : std::nullopt;
    };
    for (int index = 0; index < fanCount; ++index) {
        const auto rpm = reader->getValue(FanKey(index, "Ac"), true);
        if (!rpm || !std::isfinite(*rpm) || *rpm < 0) {
            continue;
        }
        auto name = reader->getStringValue(FanKey(index, "ID"));
        if (name && name->empty()) {
            name.reset();
        }
        result.push_back({index, std::move(name), *rpm,
                          finite(reader->getValue(FanKey(index, "Mx"), false)),
                          finite(reader->getValue(FanKey(index, "Mn"), true))});
    }
    // Numbered after every SMC fan index, listed or not, so an id names the same fan on every
    // snapshot.
    for (const auto& fan : monitors.fans) {
        if (std::isfinite(fan.rpm) && fan.rpm >= 0) {
            result.push_back({fanCount + fan.index, std::string(fan.name), fan.rpm,
                              finite(fan.maximumRPM), finite(fan.minimumRPM)});
        }
    }
    return result;
}

SensorCompanion::GraphicsReadings SensorCompanion::graphics() {
    namespace statistic = platform::accelerator_statistic;
    GraphicsReadings readings;
    const auto accelerators = registry_->matchingEntries(platform::registry_class::accelerator);
    if (!accelerators) {
        return readings;
    }
    // The walk goes on past the first usable accelerator only to list the cards.
    std::vector<SensorSnapshot::GpuReading> cards;
    while (const auto entry = accelerators->next()) {
        const auto ioClass = entry->stringProperty(platform::accelerator_property::ioClass);
        if (!ioClass || !registry_->isGraphicsAcceleratorClass(*ioClass)) {
            continue;
        }
        cards.push_back(graphicsCard(*entry, *ioClass));
        const auto* statistics =
            entry->dictionaryProperty(platform::accelerator_property::statistics);
        if (!statistics || readings.first) {
            continue;
        }
        auto overall = percentage(*statistics, statistic::deviceUtilization);
        if (!overall) {
            overall = percentage(*statistics, statistic::gpuActivity);
        }
        if (!overall) {
            continue;
        }
        readings.first = SensorSnapshot::GraphicsReading{
            *overall / 100, fraction(*statistics, statistic::rendererUtilization),
            fraction(*statistics, statistic::tilerUtilization)};
    }
    if (!cards.empty()) {
        orderGraphicsCards(cards);
        readings.cards = std::move(cards);
    }
    return readings;
}

const std::vector<SensorSnapshot::AccessoryReading>& SensorCompanion::accessories() {
    const double now = clock_->uptime();
    if (now < nextAccessoryRead) {
        return accessoryReadings;
    }
    // Set before running, so a failed run also waits for the next interval.
    nextAccessoryRead = now + accessoryInterval;
    accessoryReadings = readAccessories(*toolRunner_);
    return accessoryReadings;
}

} // namespace brivane
