#include "platform/linux/sysfs_registry.h"

#include "platform/linux/power_supply.h"

#include <algorithm>

namespace brivane::platform::linux_backend {
namespace {

using Catalog = SysfsRegistry::Catalog;

class BatteryEntry final : public RegistryEntry {
public:
    explicit BatteryEntry(std::shared_ptr<const Catalog> catalog)
        : catalog_(std::move(catalog)), battery_(*catalog_->battery) {}

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
        const auto value = catalog_->channels->value(*channel);
        return value ? std::optional<double>(static_cast<double>(*value) * factor) : std::nullopt;
    }

    std::shared_ptr<const Catalog> catalog_;
    const SysfsRegistry::Battery& battery_;
};

class CardEntry final : public RegistryEntry {
public:
    CardEntry(const ChannelSet& channels, const SysfsRegistry::Card& card) : card_(card) {
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
    explicit CardIterator(std::shared_ptr<const Catalog> catalog) : catalog_(std::move(catalog)) {}

    std::unique_ptr<RegistryEntry> next() override {
        if (!catalog_ || position_ >= catalog_->cards.size()) {
            return nullptr;
        }
        return std::make_unique<CardEntry>(*catalog_->channels, catalog_->cards[position_++]);
    }

private:
    std::shared_ptr<const Catalog> catalog_; // null: no entries
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

std::shared_ptr<const Catalog> discoverRegistry(const std::shared_ptr<ChannelSet>& channels) {
    auto catalog = std::make_shared<Catalog>();
    catalog->channels = channels;
    const host::RootedDirectory& sys = channels->root();
    for (const auto& supply : sys.list("class/power_supply")) {
        const std::string base = "class/power_supply/" + supply;
        if (!isSystemBattery(sys, base)) {
            continue;
        }
        catalog->battery = SysfsRegistry::Battery{channels->add(base + "/temp"),
                                                  channels->add(base + "/voltage_now")};
        break;
    }
    for (const auto& card : sys.list("class/drm")) {
        if (!isCard(card)) {
            continue;
        }
        const std::string device = "class/drm/" + card + "/device";
        if (const auto busy = channels->add(device + "/gpu_busy_percent")) {
            catalog->cards.push_back({driverOf(sys, device), *busy});
        }
    }
    return catalog;
}

constexpr std::string_view registrySubsystems[] = {"power_supply", "drm"};

} // namespace

SysfsRegistry::SysfsRegistry(std::string sysRoot, SensorPoller::Setup setup)
    : poller_(sysRoot, discoverRegistry, [&setup] {
          setup.name = "registry";
          setup.classFolders = {"class/power_supply", "class/drm"};
          setup.ueventSubsystems.assign(std::begin(registrySubsystems),
                                        std::end(registrySubsystems));
          return std::move(setup);
      }()) {}

std::unique_ptr<RegistryEntry> SysfsRegistry::firstEntry(std::string_view className) {
    if (className != "AppleSmartBattery") {
        return nullptr;
    }
    auto catalog = poller_.current<Catalog>();
    if (!catalog || !catalog->battery) {
        return nullptr;
    }
    return std::make_unique<BatteryEntry>(std::move(catalog));
}

std::unique_ptr<RegistryIterator> SysfsRegistry::matchingEntries(std::string_view className) {
    return std::make_unique<CardIterator>(className == "IOAccelerator" ? poller_.current<Catalog>()
                                                                       : nullptr);
}

bool SysfsRegistry::isGraphicsAcceleratorClass(std::string_view) const {
    return true;
}

} // namespace brivane::platform::linux_backend
