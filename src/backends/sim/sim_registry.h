#pragma once

#include "platform/registry.h"

#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace brivane::platform::sim {

// A property of a simulated entry; std::monostate stands for a value of some other type.
using SimProperty = std::variant<std::monostate, double, std::string, RegistryDictionary>;
using SimProperties = std::map<std::string, SimProperty, std::less<>>;

// An in-memory registry: entries in insertion order per class. Entries handed out share the
// stored properties, so a lookup copies nothing.
class SimRegistry final : public Registry {
public:
    SimRegistry& add(std::string className, SimProperties properties);
    // Makes every walk over the class fail, as a refused lookup does.
    SimRegistry& failLookups(std::string className);

    std::unique_ptr<RegistryEntry> firstEntry(std::string_view className) override;
    std::unique_ptr<RegistryIterator> matchingEntries(std::string_view className) override;

private:
    struct Stored {
        std::string className;
        std::shared_ptr<const SimProperties> properties;
    };
    std::vector<Stored> entries_;
    std::set<std::string, std::less<>> failing_;
};

// The simulated laptop: a battery at 30.5 °C and 12.6 V, 87 % charged and discharging at 7.25 W, a
// display controller that is not a graphics accelerator, and an AGX accelerator with its
// performance statistics.
std::shared_ptr<SimRegistry> makeSimLaptopRegistry();

} // namespace brivane::platform::sim
