#include "platform/linux/sysfs_registry.h"

#include "platform/battery_properties.h"

#include <algorithm>

namespace brivane::platform::linux_backend {
namespace {

class BatteryEntry final : public RegistryEntry {
public:
    explicit BatteryEntry(const BatteryStatus& status) : status_(status) {}

    std::optional<double> numberProperty(std::string_view name) const override {
        namespace property = battery_property;
        const auto scaled = [](std::optional<double> value, double factor) {
            return value ? std::optional<double>(*value * factor) : std::nullopt;
        };
        if (name == "Temperature")
            return scaled(status_.celsius, 100);
        if (name == "Voltage")
            return scaled(status_.volts, 1000);
        if (name == property::level)
            return status_.level;
        if (name == property::power)
            return status_.watts;
        if (name == property::secondsToEmpty)
            return status_.secondsToEmpty;
        if (name == property::secondsToFull)
            return status_.secondsToFull;
        if (name == property::health)
            return status_.health;
        if (name == property::cycleCount && status_.cycleCount)
            return static_cast<double>(*status_.cycleCount);
        return std::nullopt;
    }
    std::optional<std::string_view> stringProperty(std::string_view name) const override {
        if (name == battery_property::state && status_.state)
            return batteryStateName(*status_.state);
        return std::nullopt;
    }
    const RegistryDictionary* dictionaryProperty(std::string_view) const override {
        return nullptr;
    }

private:
    BatteryStatus status_;
};

class CardEntry final : public RegistryEntry {
public:
    explicit CardEntry(const CardUtilization& card) : driver_(card.driver) {
        if (card.percent) {
            statistics_.emplace("Device Utilization %", *card.percent);
        }
    }

    std::optional<double> numberProperty(std::string_view) const override { return std::nullopt; }
    std::optional<std::string_view> stringProperty(std::string_view name) const override {
        return name == "IOClass" ? std::optional<std::string_view>(driver_) : std::nullopt;
    }
    const RegistryDictionary* dictionaryProperty(std::string_view name) const override {
        return name == "PerformanceStatistics" ? &statistics_ : nullptr;
    }

private:
    std::string driver_;
    RegistryDictionary statistics_;
};

class CardIterator final : public RegistryIterator {
public:
    explicit CardIterator(std::vector<CardUtilization> cards) : cards_(std::move(cards)) {}

    std::unique_ptr<RegistryEntry> next() override {
        if (position_ >= cards_.size()) {
            return nullptr;
        }
        return std::make_unique<CardEntry>(cards_[position_++]);
    }

private:
    std::vector<CardUtilization> cards_;
    std::size_t position_ = 0;
};

} // namespace

SysfsRegistry::SysfsRegistry(std::string sysRoot, SensorTiming timing, host::KeptValue::Pread pread,
                             std::string nvmlLibrary)
    : channels_(sysRoot, timing, pread), cards_(channels_.root(), std::move(nvmlLibrary)) {}

void SysfsRegistry::discover() {
    batteries_.discover(channels_);
    cards_.discover();
    channels_.start();
}

std::unique_ptr<RegistryEntry> SysfsRegistry::firstEntry(std::string_view className) {
    std::call_once(discovered_, [this] { discover(); });
    if (className != "AppleSmartBattery" || batteries_.empty()) {
        return nullptr;
    }
    return std::make_unique<BatteryEntry>(batteries_.read(channels_));
}

std::unique_ptr<RegistryIterator> SysfsRegistry::matchingEntries(std::string_view className) {
    std::call_once(discovered_, [this] { discover(); });
    return std::make_unique<CardIterator>(
        className == "IOAccelerator" ? cards_.read() : std::vector<CardUtilization>{});
}

bool SysfsRegistry::isGraphicsAcceleratorClass(std::string_view) const {
    return true;
}

} // namespace brivane::platform::linux_backend
