#include "platform/linux/sysfs_registry.h"

#include "platform/linux/power_supply.h"

#include <algorithm>

namespace brivane::platform::linux_backend {
namespace {

class BatteryEntry final : public RegistryEntry {
public:
    BatteryEntry(const SensorChannels& channels, const SysfsRegistry::Battery& battery)
        : channels_(channels), battery_(battery) {}

    std::optional<double> numberProperty(std::string_view name) const override {
        if (name == "Temperature") {
            return scaled(battery_.temperature, 10); // tenths → hundredths of a degree
        }
        if (name == "Voltage") {
            return scaled(battery_.voltage, 1e-3); // µV → mV
        }
        return std::nullopt;
    }
    std::optional<std::string_view> stringProperty(std::string_view) const override {
        return std::nullopt;
    }
    const RegistryDictionary* dictionaryProperty(std::string_view) const override {
        return nullptr;
    }

private:
    std::optional<double> scaled(std::optional<std::size_t> channel, double factor) const {
        if (!channel) {
            return std::nullopt;
        }
        const auto value = channels_.value(*channel);
        return value ? std::optional<double>(static_cast<double>(*value) * factor) : std::nullopt;
    }

    const SensorChannels& channels_;
    const SysfsRegistry::Battery& battery_;
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
    for (const auto& supply : sys.list("class/power_supply")) {
        const std::string base = "class/power_supply/" + supply;
        if (!isSystemBattery(sys, base)) {
            continue;
        }
        battery_ = Battery{channels_.add(base + "/temp"), channels_.add(base + "/voltage_now")};
        break;
    }
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
    if (className != "AppleSmartBattery" || !battery_) {
        return nullptr;
    }
    return std::make_unique<BatteryEntry>(channels_, *battery_);
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
