#pragma once

// What the power tool stand-in knows about each power source, gathered from UPower, BlueZ and
// power_supply, and the text it prints for them.

#include "bus_values.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brivane::system_tools {

struct PowerSourceFacts {
    std::string name;
    std::optional<double> percent; // 0 to 100
    std::optional<bool> present;
    std::optional<bool> charging;
    // Bluetooth address, serial number or device path, as the source gives it; may be empty.
    std::string identifier;
    // Normalised addresses, serials and power_supply names under which another source may
    // report the same device.
    std::vector<std::string> matchKeys;
};

// One entry of /sys/class/power_supply, files as read (trailing newline removed).
struct PowerSupplyEntry {
    std::string name;
    std::string type;
    std::optional<std::string> scope;
    std::string status;
    std::string modelName;
    std::string serialNumber;
    std::optional<std::int64_t> capacity;
    std::string capacityLevel; // "Critical", "Low", "Normal", "High", "Full", …
    std::optional<std::int64_t> present;
};

// A UPower device that is not one of the machine's own supplies; nothing for the others.
std::optional<PowerSourceFacts> upowerAccessory(const BusProperties& device);

// A BlueZ device (org.bluez.Device1) with its org.bluez.Battery1 properties.
std::optional<PowerSourceFacts> bluezAccessory(const BusProperties& device,
                                               const BusProperties& battery);

// Every BlueZ device that carries a battery, from the object manager's listing.
std::vector<PowerSourceFacts> bluezAccessories(const ManagedObjects& objects);

// A peripheral's own supply (scope Device); nothing for any other entry.
std::optional<PowerSourceFacts> powerSupplyAccessory(const PowerSupplyEntry& entry);

// The machine's battery: the first entry of type Battery whose scope is System or missing.
std::optional<PowerSourceFacts> internalBattery(const std::vector<PowerSupplyEntry>& entries);

// Concatenates the lists in order of preference, leaving out a device already listed under one
// of its match keys.
std::vector<PowerSourceFacts>
mergeAccessories(const std::vector<std::vector<PowerSourceFacts>>& lists);

// "-g accps -xml" output: one XML property list per source, the battery first; at most
// AccessoryReading::maxCount accessories, names and identifiers cut to maxNameBytes.
std::string powerSourceDocuments(const std::optional<PowerSourceFacts>& battery,
                                 const std::vector<PowerSourceFacts>& accessories);

} // namespace brivane::system_tools
