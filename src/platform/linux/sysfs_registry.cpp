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
    CardEntry(const SensorChannels& channels, const SysfsRegistry::Card& card) : card_(card) {
        if (const auto busy = channels.value(card.busy)) {
            statistics_.emplace("Device Utilization %", static_cast<double>(*busy));
        }
    }

    std::optional<double> numberProperty(std::string_view) const override { return std::nullopt; }
    std::optional<std::string_view> stringProperty(std::string_view name) const override {
        return name == "IOClass" ? std::optional<std::string_view>(card_.driver) : std::nullopt;
    }
    const RegistryDictionary* dictionaryProperty(std::string_view name) const override {
        return name == "PerformanceStatistics" ? &statistics_ : nullptr;
    }

private:
    const SysfsRegistry::Card& card_;
    RegistryDictionary statistics_;
};

class CardIterator final : public RegistryIterator {
public:
    CardIterator(const SensorChannels& channels, const std::vector<SysfsRegistry::Card>& cards)
        : channels_(channels), cards_(cards) {}

    std::unique_ptr<RegistryEntry> next() override {
        if (position_ >= cards_.size()) {
            return nullptr;
        }
        return std::make_unique<CardEntry>(channels_, cards_[position_++]);
    }

private:
    const SensorChannels& channels_;
    const std::vector<SysfsRegistry::Card>& cards_;
    std::size_t position_ = 0;
};

bool isCard(std::string_view name) {
    // "card0", not its connectors ("card0-DP-1") nor render nodes.
    return name.size() > 4 && name.starts_with("card") &&
           std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The DRIVER= line of a device's uevent file.
std::string driverOf(const host::RootedDirectory& sys, const std::string& device) {
    const auto uevent = sys.readText((device + "/uevent").c_str());
    if (uevent) {
        constexpr std::string_view prefix = "DRIVER=";
        std::string_view rest = *uevent;
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            if (line.starts_with(prefix) && line.size() > prefix.size()) {
                return std::string(line.substr(prefix.size()));
            }
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        }
    }
    return "drm";
}

} // namespace

SysfsRegistry::SysfsRegistry(std::string sysRoot, SensorTiming timing, host::KeptValue::Pread pread)
    : channels_(sysRoot, timing, pread) {}

void SysfsRegistry::discover() {
    const host::RootedDirectory& sys = channels_.root();
    batteries_.discover(channels_);
    for (const auto& card : sys.list("class/drm")) {
        if (!isCard(card)) {
            continue;
        }
        const std::string device = "class/drm/" + card + "/device";
        if (const auto busy = channels_.add(device + "/gpu_busy_percent")) {
            cards_.push_back({driverOf(sys, device), *busy});
        }
    }
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
    static const std::vector<Card> none;
    return std::make_unique<CardIterator>(channels_, className == "IOAccelerator" ? cards_ : none);
}

bool SysfsRegistry::isGraphicsAcceleratorClass(std::string_view) const {
    return true;
}

} // namespace brivane::platform::linux_backend
