#include "core/graphics_cards.h"

#include "platform/registry_names.h"
#include "platform/sensor_kinds.h"

#include <algorithm>
#include <cmath>

namespace brivane {

namespace {

constexpr double maximumWatts = 2000;
constexpr double maximumBytes = 1e15; // a petabyte: more is a driver's garbage

std::optional<double> statistic(const platform::RegistryDictionary* statistics,
                                std::string_view key, double lowest, double highest) {
    if (!statistics) {
        return std::nullopt;
    }
    const auto found = statistics->find(key);
    const auto* number = found == statistics->end() ? nullptr : std::get_if<double>(&found->second);
    // NaN fails both comparisons, so it is never kept.
    if (!number || !(*number >= lowest && *number <= highest)) {
        return std::nullopt;
    }
    return *number;
}

std::optional<std::int64_t> bytes(const platform::RegistryDictionary* statistics,
                                  std::string_view key) {
    const auto value = statistic(statistics, key, 0, maximumBytes);
    return value ? std::optional(static_cast<std::int64_t>(std::llround(*value))) : std::nullopt;
}

std::optional<std::string> text(const platform::RegistryEntry& entry, std::string_view name) {
    const auto value = entry.stringProperty(name);
    return value && !value->empty() ? std::optional<std::string>(*value) : std::nullopt;
}

} // namespace

SensorSnapshot::GpuReading graphicsCard(const platform::RegistryEntry& accelerator,
                                        std::string_view ioClass) {
    namespace property = platform::accelerator_property;
    namespace figure = platform::accelerator_figure;
    SensorSnapshot::GpuReading card;
    card.card = text(accelerator, property::card);
    card.pciAddress = text(accelerator, property::pciAddress);
    card.driver = std::string(ioClass);
    if (const auto asleep = accelerator.numberProperty(property::asleep);
        asleep && (*asleep == 0 || *asleep == 1)) {
        card.asleep = *asleep == 1;
    }
    const auto* statistics = accelerator.dictionaryProperty(property::statistics);
    auto percent =
        statistic(statistics, platform::accelerator_statistic::deviceUtilization, 0, 100);
    if (!percent) {
        percent = statistic(statistics, platform::accelerator_statistic::gpuActivity, 0, 100);
    }
    if (percent) {
        card.utilization = *percent / 100;
    }
    if (card.asleep.value_or(false)) {
        card.utilization = 0.0;
        return card;
    }
    card.memoryTotal = bytes(statistics, figure::memoryTotal);
    card.memoryUsed = bytes(statistics, figure::memoryInUse);
    if (card.memoryUsed && card.memoryTotal && *card.memoryUsed > *card.memoryTotal) {
        card.memoryUsed.reset();
    }
    card.power = statistic(statistics, figure::power, 0, maximumWatts);
    if (const auto celsius = statistic(statistics, figure::temperature, 0, 150);
        celsius && platform::isPlausibleCelsius(*celsius)) {
        card.temperature = celsius;
    }
    return card;
}

void orderGraphicsCards(std::vector<SensorSnapshot::GpuReading>& cards) {
    std::stable_sort(cards.begin(), cards.end(), [](const auto& a, const auto& b) {
        if (a.pciAddress && b.pciAddress) {
            return *a.pciAddress < *b.pciAddress;
        }
        return a.pciAddress.has_value() && !b.pciAddress.has_value();
    });
}

} // namespace brivane
