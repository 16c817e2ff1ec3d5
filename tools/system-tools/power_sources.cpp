#include "power_sources.h"

#include "base/utf8.h"
#include "formats/sensor_snapshot.h"
#include "plist_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <set>
#include <string_view>

namespace brivane::system_tools {
namespace {

// UPower's device kinds, by their number, as a person would call them.
// clang-format off
constexpr std::array<std::string_view, 29> kindNames = {
    "", "", "Battery", "UPS", "Monitor", "Mouse", "Keyboard", "PDA", "Phone", "Media Player",
    "Tablet", "Computer", "Game Controller", "Pen", "Touchpad", "Modem", "Network Device",
    "Headset", "Speakers", "Headphones", "Video Device", "Audio Device", "Remote Control",
    "Printer", "Scanner", "Camera", "Wearable", "Toy", "Bluetooth Device"};
// clang-format on
constexpr std::uint64_t lineKind = 1;
constexpr std::string_view fallbackName = "Accessory";
constexpr std::uint64_t chargingState = 1;
using AccessoryReading = SensorSnapshot::AccessoryReading;

// Some peripherals (HID++ among them) give only a band: its rough middle stands for the level.
constexpr std::pair<std::string_view, double> levelBands[] = {
    {"Critical", 5}, {"Low", 15}, {"Normal", 50}, {"High", 85}, {"Full", 100}};

std::optional<double> bandPercent(std::string_view band) {
    for (const auto& [name, percent] : levelBands) {
        if (name == band) {
            return percent;
        }
    }
    return std::nullopt;
}

// UPower's NativePath of a sysfs device names its power_supply entry (the last component, should
// it come as a path); for pens and tablets no address or serial ties the two together.
std::string supplyKey(std::string_view nameOrPath) {
    return "power_supply " + std::string(nameOrPath.substr(nameOrPath.rfind('/') + 1));
}

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// "aa:bb:cc:dd:ee:ff" or "AA_BB_CC_DD_EE_FF" in the canonical upper-case, colon form.
std::optional<std::string> bluetoothAddress(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    std::string out = upper(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i % 3 == 2) {
            if (out[i] != ':' && out[i] != '_') {
                return std::nullopt;
            }
            out[i] = ':';
        } else if (!std::isxdigit(static_cast<unsigned char>(out[i]))) {
            return std::nullopt;
        }
    }
    return out;
}

// The address in a supply or device name: hid-<address>-battery,
// ps-controller-battery-<address>, …/dev_<address>.
std::optional<std::string> addressInName(std::string_view name) {
    constexpr std::string_view hidPrefix = "hid-", hidSuffix = "-battery";
    constexpr std::string_view controllerPrefix = "ps-controller-battery-";
    constexpr std::string_view devicePrefix = "dev_";
    if (name.size() > hidPrefix.size() + hidSuffix.size() && name.starts_with(hidPrefix) &&
        name.ends_with(hidSuffix)) {
        return bluetoothAddress(
            name.substr(hidPrefix.size(), name.size() - hidPrefix.size() - hidSuffix.size()));
    }
    if (name.starts_with(controllerPrefix)) {
        return bluetoothAddress(name.substr(controllerPrefix.size()));
    }
    if (const auto at = name.rfind(devicePrefix); at != std::string_view::npos) {
        return bluetoothAddress(name.substr(at + devicePrefix.size()));
    }
    return std::nullopt;
}

// Match keys and the identifier to print, from an address and a serial (either may be empty).
void identify(PowerSourceFacts& facts, const std::optional<std::string>& address,
              std::string_view serial, std::string_view fallbackIdentifier) {
    if (address) {
        facts.matchKeys.push_back(*address);
    }
    if (!serial.empty()) {
        facts.matchKeys.push_back(bluetoothAddress(serial).value_or(upper(serial)));
    }
    facts.identifier = address           ? *address
                       : !serial.empty() ? std::string(serial)
                                         : std::string(fallbackIdentifier);
}

std::optional<bool> chargingFromStatus(std::string_view status) {
    if (status == "Charging") {
        return true;
    }
    if (status == "Discharging" || status == "Full" || status == "Not charging") {
        return false;
    }
    return std::nullopt;
}

// What a power_supply entry tells of any source: level, presence, charging.
PowerSourceFacts supplyFacts(const PowerSupplyEntry& entry, std::string name) {
    PowerSourceFacts facts;
    facts.name = std::move(name);
    if (entry.capacity) {
        facts.percent = static_cast<double>(*entry.capacity);
    } else {
        facts.percent = bandPercent(entry.capacityLevel);
    }
    if (entry.present) {
        facts.present = *entry.present != 0;
    }
    facts.charging = chargingFromStatus(entry.status);
    return facts;
}

void writeSource(std::string& out, const PowerSourceFacts& facts, bool internal) {
    const auto capped = [](const std::string& text) {
        return base::utf8::truncated(text, AccessoryReading::maxNameBytes);
    };
    PlistText plist;
    plist.text("Type", internal ? "InternalBattery" : "Accessory Source");
    plist.text("Name", capped(facts.name));
    if (!internal && !facts.identifier.empty()) {
        plist.text("Accessory Identifier", capped(facts.identifier));
    }
    if (facts.percent && *facts.percent >= 0 && *facts.percent <= 100) {
        plist.integer("Current Capacity", std::llround(*facts.percent));
        plist.integer("Max Capacity", 100);
    }
    if (facts.present) {
        plist.boolean("Is Present", *facts.present);
    }
    if (facts.charging) {
        plist.boolean("Is Charging", *facts.charging);
    }
    out += std::move(plist).finish();
}

} // namespace

std::optional<PowerSourceFacts> upowerAccessory(const BusProperties& device) {
    const auto kind = counterField(device, "Type");
    if (booleanField(device, "PowerSupply") != false || kind == lineKind) {
        return std::nullopt;
    }
    PowerSourceFacts facts;
    if (const auto model = textField(device, "Model"); model && !model->empty()) {
        facts.name = std::string(*model);
    } else if (kind && *kind < kindNames.size() && !kindNames[*kind].empty()) {
        facts.name = std::string(kindNames[*kind]);
    } else {
        facts.name = std::string(fallbackName);
    }
    facts.percent = numberField(device, "Percentage");
    facts.present = booleanField(device, "IsPresent");
    if (const auto state = counterField(device, "State")) {
        facts.charging = *state == chargingState;
    }
    const auto nativePath = textField(device, "NativePath").value_or("");
    identify(facts, addressInName(nativePath), textField(device, "Serial").value_or(""),
             nativePath);
    if (!nativePath.empty()) {
        facts.matchKeys.push_back(supplyKey(nativePath));
    }
    return facts;
}

std::optional<PowerSourceFacts> bluezAccessory(const BusProperties& device,
                                               const BusProperties& battery) {
    const auto address = textField(device, "Address").value_or("");
    PowerSourceFacts facts;
    for (const char* field : {"Alias", "Name"}) {
        if (const auto name = textField(device, field); name && !name->empty()) {
            facts.name = std::string(*name);
            break;
        }
    }
    if (facts.name.empty()) {
        facts.name = address.empty() ? std::string(fallbackName) : std::string(address);
    }
    facts.percent = numberField(battery, "Percentage");
    facts.present = true;
    identify(facts, bluetoothAddress(address), "", address);
    return facts;
}

std::vector<PowerSourceFacts> bluezAccessories(const ManagedObjects& objects) {
    std::vector<PowerSourceFacts> accessories;
    for (const auto& [path, interfaces] : objects) {
        const auto device = interfaces.find("org.bluez.Device1");
        const auto battery = interfaces.find("org.bluez.Battery1");
        if (device != interfaces.end() && battery != interfaces.end()) {
            if (auto facts = bluezAccessory(device->second, battery->second)) {
                accessories.push_back(std::move(*facts));
            }
        }
    }
    return accessories;
}

std::optional<PowerSourceFacts> powerSupplyAccessory(const PowerSupplyEntry& entry) {
    if (entry.scope != "Device") {
        return std::nullopt;
    }
    auto facts = supplyFacts(entry, entry.modelName.empty() ? entry.name : entry.modelName);
    identify(facts, addressInName(entry.name), entry.serialNumber, entry.name);
    facts.matchKeys.push_back(supplyKey(entry.name));
    return facts;
}

std::optional<PowerSourceFacts> internalBattery(const std::vector<PowerSupplyEntry>& entries) {
    for (const auto& entry : entries) {
        if (entry.type != "Battery" || (entry.scope && *entry.scope != "System")) {
            continue;
        }
        auto facts = supplyFacts(entry, "InternalBattery-0");
        facts.present = facts.present.value_or(true);
        return facts;
    }
    return std::nullopt;
}

std::vector<PowerSourceFacts>
mergeAccessories(const std::vector<std::vector<PowerSourceFacts>>& lists) {
    std::vector<PowerSourceFacts> merged;
    std::set<std::string, std::less<>> seen;
    for (const auto& list : lists) {
        for (const auto& facts : list) {
            const bool known =
                std::any_of(facts.matchKeys.begin(), facts.matchKeys.end(),
                            [&](const std::string& key) { return seen.contains(key); });
            if (known) {
                continue;
            }
            seen.insert(facts.matchKeys.begin(), facts.matchKeys.end());
            merged.push_back(facts);
        }
    }
    return merged;
}

std::string powerSourceDocuments(const std::optional<PowerSourceFacts>& battery,
                                 const std::vector<PowerSourceFacts>& accessories) {
    std::string out;
    if (battery) {
        writeSource(out, *battery, true);
    }
    for (std::size_t i = 0; i < accessories.size() && i < AccessoryReading::maxCount; ++i) {
        writeSource(out, accessories[i], false);
    }
    return out;
}

} // namespace brivane::system_tools
