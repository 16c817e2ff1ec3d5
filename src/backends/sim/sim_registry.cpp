#include "backends/sim/sim_registry.h"

#include "platform/registry_names.h"

namespace brivane::platform::sim {
namespace {

class SimEntry final : public RegistryEntry {
public:
    explicit SimEntry(std::shared_ptr<const SimProperties> properties)
        : properties_(std::move(properties)) {}

    std::optional<double> numberProperty(std::string_view name) const override {
        const auto* value = find(name);
        if (const auto* number = value ? std::get_if<double>(value) : nullptr) {
            return *number;
        }
        return std::nullopt;
    }

    std::optional<std::string_view> stringProperty(std::string_view name) const override {
        const auto* value = find(name);
        if (const auto* text = value ? std::get_if<std::string>(value) : nullptr) {
            return std::string_view(*text);
        }
        return std::nullopt;
    }

    const RegistryDictionary* dictionaryProperty(std::string_view name) const override {
        const auto* value = find(name);
        return value ? std::get_if<RegistryDictionary>(value) : nullptr;
    }

private:
    const SimProperty* find(std::string_view name) const {
        const auto found = properties_->find(name);
        return found == properties_->end() ? nullptr : &found->second;
    }

    std::shared_ptr<const SimProperties> properties_;
};

class SimIterator final : public RegistryIterator {
public:
    explicit SimIterator(std::vector<std::shared_ptr<const SimProperties>> matches)
        : matches_(std::move(matches)) {}

    std::unique_ptr<RegistryEntry> next() override {
        if (position_ >= matches_.size()) {
            return nullptr;
        }
        return std::make_unique<SimEntry>(matches_[position_++]);
    }

private:
    std::vector<std::shared_ptr<const SimProperties>> matches_;
    std::size_t position_ = 0;
};

} // namespace

SimRegistry& SimRegistry::add(std::string className, SimProperties properties) {
    entries_.push_back(
        {std::move(className), std::make_shared<const SimProperties>(std::move(properties))});
    return *this;
}

SimRegistry& SimRegistry::failLookups(std::string className) {
    failing_.insert(std::move(className));
    return *this;
}

std::unique_ptr<RegistryEntry> SimRegistry::firstEntry(std::string_view className) {
    for (const auto& entry : entries_) {
        if (entry.className == className) {
            return std::make_unique<SimEntry>(entry.properties);
        }
    }
    return nullptr;
}

std::unique_ptr<RegistryIterator> SimRegistry::matchingEntries(std::string_view className) {
    if (failing_.contains(className)) {
        return nullptr;
    }
    std::vector<std::shared_ptr<const SimProperties>> matches;
    for (const auto& entry : entries_) {
        if (entry.className == className) {
            matches.push_back(entry.properties);
        }
    }
    return std::make_unique<SimIterator>(std::move(matches));
}

std::shared_ptr<SimRegistry> makeSimLaptopRegistry() {
    auto registry = std::make_shared<SimRegistry>();
    registry->add(std::string(registry_class::battery),
                  {{std::string(battery_property::temperature), 3050.0},
                   {std::string(battery_property::voltage), 12600.0},
                   {"CurrentCapacity", 87.0},
                   {"IsCharging", std::monostate{}},
                   {std::string(battery_property::level), 0.87},
                   {std::string(battery_property::state), "discharging"},
                   {std::string(battery_property::power), 7.25},
                   {std::string(battery_property::secondsToEmpty), 25200.0},
                   {std::string(battery_property::health), 0.94},
                   {std::string(battery_property::cycleCount), 212.0}});
    namespace statistic = accelerator_statistic;
    const std::string accelerator(registry_class::accelerator);
    const std::string ioClass(accelerator_property::ioClass);
    const std::string statistics(accelerator_property::statistics);
    registry->add(
        accelerator,
        {{ioClass, std::string("IOFramebufferAccelerator")},
         {statistics, RegistryDictionary{{std::string(statistic::deviceUtilization), 90.0}}}});
    // Named as a card of the Linux machine is, so the views' card and address cells are filled.
    registry->add(accelerator,
                  {{ioClass, std::string("AGXAcceleratorG13X")},
                   {std::string(accelerator_property::card), std::string("card0")},
                   {std::string(accelerator_property::pciAddress), std::string("0000:00:02.0")},
                   {statistics, RegistryDictionary{
                                    {std::string(statistic::deviceUtilization), 23.0},
                                    {std::string(statistic::rendererUtilization), 17.0},
                                    {std::string(statistic::tilerUtilization), 6.0},
                                    {"In use system memory", 524288000.0},
                                    {"recoveryCount", std::monostate{}},
                                }}});
    return registry;
}

} // namespace brivane::platform::sim
