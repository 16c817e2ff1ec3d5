#include "backends/linux/sysfs_registry.h"

#include "backends/linux/gpu/drm_cards.h"
#include "backends/linux/power/system_batteries.h"
#include "backends/posix/system/monotonic_uptime_clock.h"
#include "platform/registry_names.h"

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
        if (name == property::temperature)
            return scaled(status_.celsius, 100);
        if (name == property::voltage)
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
    explicit CardEntry(const CardReading& card)
        : driver_(card.driver), card_(card.card), pciAddress_(card.pciAddress),
          asleep_(card.asleep ? 1 : 0) {
        const auto put = [this](std::string_view key, const auto& value) {
            if (value) {
                statistics_.emplace(key, static_cast<double>(*value));
            }
        };
        put(accelerator_statistic::deviceUtilization, card.percent);
        put(accelerator_figure::memoryInUse, card.memoryUsed);
        put(accelerator_figure::memoryTotal, card.memoryTotal);
        put(accelerator_figure::power, card.watts);
        put(accelerator_figure::temperature, card.celsius);
    }

    std::optional<double> numberProperty(std::string_view name) const override {
        return name == accelerator_property::asleep ? std::optional(asleep_) : std::nullopt;
    }
    std::optional<std::string_view> stringProperty(std::string_view name) const override {
        if (name == accelerator_property::ioClass) {
            return driver_;
        }
        if (name == accelerator_property::card) {
            return card_;
        }
        if (name == accelerator_property::pciAddress && !pciAddress_.empty()) {
            return pciAddress_;
        }
        return std::nullopt;
    }
    const RegistryDictionary* dictionaryProperty(std::string_view name) const override {
        return name == accelerator_property::statistics ? &statistics_ : nullptr;
    }

private:
    std::string driver_, card_, pciAddress_;
    double asleep_;
    RegistryDictionary statistics_;
};

class CardIterator final : public RegistryIterator {
public:
    explicit CardIterator(std::vector<CardReading> cards) : cards_(std::move(cards)) {}

    std::unique_ptr<RegistryEntry> next() override {
        if (position_ >= cards_.size()) {
            return nullptr;
        }
        return std::make_unique<CardEntry>(cards_[position_++]);
    }

private:
    std::vector<CardReading> cards_;
    std::size_t position_ = 0;
};

} // namespace

struct SysfsRegistry::Catalog {
    std::shared_ptr<ChannelSet> channels;
    SystemBatteries batteries;
    DrmCards cards;
};

namespace {

// The library is let go when reading stops.
SensorPoller::Setup restingLetsGo(SensorPoller::Setup setup,
                                  const std::shared_ptr<NvmlSession>& nvml) {
    setup.resting = [weak = std::weak_ptr(nvml)] {
        if (const auto session = weak.lock()) {
            session->rest();
        }
    };
    return setup;
}

} // namespace

SysfsRegistry::SysfsRegistry(const std::string& sysRoot, const SensorPoller::Setup& setup,
                             std::string nvmlLibrary)
    : SysfsRegistry(
          sysRoot, setup,
          std::make_shared<NvmlSession>(
              std::move(nvmlLibrary),
              setup.clock ? setup.clock : std::make_shared<posix::MonotonicUptimeClock>())) {}

SysfsRegistry::SysfsRegistry(const std::string& sysRoot, SensorPoller::Setup setup,
                             std::shared_ptr<NvmlSession> nvml)
    : nvml_(std::move(nvml)),
      poller_(
          sysRoot,
          [nvml = nvml_, activity = setup.cards](const std::shared_ptr<ChannelSet>& channels) {
              auto catalog = std::make_shared<Catalog>();
              catalog->channels = channels;
              catalog->batteries.discover(*channels);
              catalog->cards = DrmCards::discover(*channels, nvml, activity);
              return std::shared_ptr<const Catalog>(std::move(catalog));
          },
          // class/hwmon for a chip that measures the battery (system_batteries.h).
          restingLetsGo(std::move(setup), nvml_)
              .forBackEnd("registry", {"class/power_supply", "class/drm", "class/hwmon"},
                          {"power_supply", "drm"})) {}

std::unique_ptr<RegistryEntry> SysfsRegistry::firstEntry(std::string_view className) {
    if (className != registry_class::battery) {
        return nullptr;
    }
    const auto catalog = poller_.current();
    if (!catalog || catalog->batteries.empty()) {
        return nullptr;
    }
    return std::make_unique<BatteryEntry>(catalog->batteries.read(*catalog->channels));
}

std::unique_ptr<RegistryIterator> SysfsRegistry::matchingEntries(std::string_view className) {
    std::vector<CardReading> cards;
    if (className == registry_class::accelerator) {
        nvml_->noteRequest();
        if (const auto catalog = poller_.current()) {
            cards = catalog->cards.read(*catalog->channels);
        }
    }
    return std::make_unique<CardIterator>(std::move(cards));
}

bool SysfsRegistry::isGraphicsAcceleratorClass(std::string_view) const {
    return true;
}

} // namespace brivane::platform::linux_backend
