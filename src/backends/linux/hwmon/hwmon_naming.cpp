#include "backends/linux/hwmon/hwmon_naming.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <numeric>
#include <set>
#include <utility>

namespace brivane::platform::linux_backend {
namespace {

struct Family {
    std::string_view prefix;
    SensorKind kind;
    bool fromZero; // the first channel is 0, not 1
};
// "intrusion" before "in", which it begins with.
constexpr std::array<Family, 8> families = {{
    {"temp", SensorKind::temperature, false},
    {"fan", SensorKind::fan, false},
    {"power", SensorKind::power, false},
    {"intrusion", SensorKind::intrusion, true},
    {"in", SensorKind::voltage, true},
    {"curr", SensorKind::current, false},
    {"energy", SensorKind::energy, false},
    {"humidity", SensorKind::humidity, false},
}};

constexpr std::size_t kLimits = 7; // MonitorLimit: min, max, lcrit, crit, emergency, target, cap

// Per kind, the limit and alarm items the hwmon interface defines for it, in MonitorLimit and
// MonitorAlarm order; empty where it defines none.
struct KindItems {
    SensorKind kind;
    KindTraits traits;
    std::array<std::string_view, kLimits> limits;
    std::array<std::string_view, kLimits> alarms;
    bool fault;
};
constexpr std::array<KindItems, 8> kindItems = {{
    {SensorKind::temperature,
     {"temperature", "celsius", 1e3},
     {"min", "max", "lcrit", "crit", "emergency", "", ""},
     {"alarm", "min_alarm", "max_alarm", "lcrit_alarm", "crit_alarm", "emergency_alarm", ""},
     true},
    {SensorKind::fan,
     {"fan", "rpm", 1},
     {"min", "max", "", "", "", "target", ""},
     {"alarm", "min_alarm", "max_alarm", "", "", "", ""},
     true},
    {SensorKind::power,
     {"power", "watts", 1e6},
     {"", "max", "", "crit", "", "", "cap"},
     {"alarm", "", "max_alarm", "", "crit_alarm", "", "cap_alarm"},
     false},
    {SensorKind::voltage,
     {"voltage", "volts", 1e3},
     {"min", "max", "lcrit", "crit", "", "", ""},
     {"alarm", "min_alarm", "max_alarm", "lcrit_alarm", "crit_alarm", "", ""},
     false},
    {SensorKind::current,
     {"current", "amperes", 1e3},
     {"min", "max", "lcrit", "crit", "", "", ""},
     {"alarm", "min_alarm", "max_alarm", "lcrit_alarm", "crit_alarm", "", ""},
     false},
    {SensorKind::energy, {"energy", "joules", 1e6}, {}, {}, false},
    {SensorKind::humidity, {"humidity", "percent", 1e3}, {}, {}, false},
    {SensorKind::intrusion, {"intrusion", "", 1}, {}, {"alarm", "", "", "", "", "", ""}, false},
}};

const KindItems& itemsOf(SensorKind kind) {
    return kindItems[static_cast<std::size_t>(kind)];
}

struct LabelKey {
    SensorKind kind;
    std::string_view label;
    std::string_view key;
};
// The labels the Apple-silicon SMC driver gives its channels, with the keys they are read from.
constexpr std::array<LabelKey, 9> appleSiliconLabels = {{
    {SensorKind::power, "Total System Power", "PSTR"},
    {SensorKind::power, "AC Input Power", "PDTR"},
    {SensorKind::power, "3.8 V Rail Power", "PMVR"},
    {SensorKind::power, "Heatpipe Power", "PHPC"},
    {SensorKind::temperature, "NAND Flash Temperature", "TH0x"},
    {SensorKind::temperature, "Battery Hotspot", "TB0T"},
    {SensorKind::temperature, "Charge Regulator Temp", "TCHP"},
    {SensorKind::temperature, "WiFi/BT Module Temp", "TW0P"},
    {SensorKind::fan, "Fan", "F0"},
}};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::optional<AttributeName> parseAttributeName(std::string_view file) {
    for (const auto& family : families) {
        if (!file.starts_with(family.prefix)) {
            continue;
        }
        const std::string_view rest = file.substr(family.prefix.size());
        const auto underscore = rest.find('_');
        if (underscore == std::string_view::npos || underscore == 0 ||
            underscore + 1 == rest.size() ||
            (rest.front() == '0' && (underscore > 1 || !family.fromZero))) {
            return std::nullopt;
        }
        unsigned index = 0;
        const char* end = rest.data() + underscore;
        const auto [stop, error] = std::from_chars(rest.data(), end, index);
        if (error != std::errc{} || stop != end) {
            return std::nullopt;
        }
        return AttributeName{family.kind, index, rest.substr(underscore + 1)};
    }
    return std::nullopt;
}

KindTraits kindTraits(SensorKind kind) {
    return itemsOf(kind).traits;
}

std::string_view limitItem(SensorKind kind, std::size_t limit) {
    return limit < kLimits ? itemsOf(kind).limits[limit] : std::string_view();
}

std::string_view alarmItem(SensorKind kind, std::size_t alarm) {
    return alarm < kLimits ? itemsOf(kind).alarms[alarm] : std::string_view();
}

bool hasFault(SensorKind kind) {
    return itemsOf(kind).fault;
}

std::string attributeStem(SensorKind kind, unsigned index) {
    for (const auto& family : families) {
        if (family.kind == kind) {
            return std::string(family.prefix) + std::to_string(index);
        }
    }
    return std::to_string(index);
}

std::optional<std::string> cleanLabel(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
}

namespace {

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const auto part = path.substr(0, slash);
        if (!part.empty() && part != "." && part != "..") {
            parts.push_back(part);
        }
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    }
    return parts;
}

// The device folders of a node's path: after "devices", without "hwmonN" and its "hwmon" folder.
std::vector<std::string_view> devicePath(std::string_view linkTarget) {
    auto parts = components(linkTarget);
    if (!parts.empty()) {
        parts.pop_back(); // hwmonN
    }
    if (!parts.empty() && parts.back() == "hwmon") {
        parts.pop_back();
    }
    const auto devices = std::find(parts.begin(), parts.end(), "devices");
    if (devices != parts.end()) {
        parts.erase(parts.begin(), devices + 1);
    }
    return parts;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// text matches pattern, where 'h' is a hex digit, 'd' one or more decimal digits, 'u' an
// upper-case letter or digit, '+' repeats the previous class, anything else itself.
bool matches(std::string_view text, std::string_view pattern) {
    std::size_t at = 0;
    for (std::size_t p = 0; p < pattern.size(); ++p) {
        const char want = pattern[p];
        const bool many = p + 1 < pattern.size() && pattern[p + 1] == '+';
        const auto fits = [want](char c) {
            switch (want) {
            case 'h':
                return isHex(c);
            case 'd':
                return isDigit(c);
            case 'u':
                return isDigit(c) || (c >= 'A' && c <= 'Z');
            default:
                return c == want;
            }
        };
        if (at >= text.size() || !fits(text[at])) {
            return false;
        }
        ++at;
        if (many || want == 'd') {
            while (at < text.size() && fits(text[at])) {
                ++at;
            }
        }
        p += many ? 1 : 0;
    }
    return at == text.size();
}

bool isUSBPort(std::string_view part) {
    // "1-4", "3-1.2", "1-4:1.0": bus, dash, a dotted port path, an optional interface.
    const auto colon = part.find(':');
    const auto ports = part.substr(0, colon);
    if (colon != std::string_view::npos && !matches(part.substr(colon + 1), "d.d")) {
        return false;
    }
    const auto dash = ports.find('-');
    if (dash == std::string_view::npos || !matches(ports.substr(0, dash), "d")) {
        return false;
    }
    std::string_view rest = ports.substr(dash + 1);
    while (true) {
        const auto dot = rest.find('.');
        if (!matches(rest.substr(0, dot), "d")) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        rest.remove_prefix(dot + 1);
    }
}

// The deepest bus address on a device path, when there is one.
std::optional<DeviceAddress> deepestBusAddress(const std::vector<std::string_view>& parts) {
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        if (matches(*part, "d-hhhh") || matches(*part, "uuu+:hh")) {
            return DeviceAddress{std::string(*part), false}; // I2C client, ACPI device
        }
        if (matches(*part, "hhhh:hh:hh.h") || matches(*part, "d:d:d:d") || isUSBPort(*part)) {
            return DeviceAddress{std::string(*part), true}; // PCI function, SCSI device, USB port
        }
    }
    return std::nullopt;
}

} // namespace

DeviceAddress deviceAddressOf(std::string_view linkTarget) {
    const auto parts = devicePath(linkTarget);
    if (parts.size() < 2 && (parts.empty() || parts.front() == "virtual")) {
        return {};
    }
    auto address = deepestBusAddress(parts);
    // Platform devices are named by the firmware or the driver ("coretemp.0", "nct6775.656"),
    // virtual ones by their class ("thermal_zone0"): the device folder itself. A PCIe bridge of
    // the platform (device-tree machines) puts a whole PCI bus below one, and a drive there is
    // named by its PCI address as anywhere else.
    if ((parts.front() == "virtual" || parts.front() == "platform") &&
        !(address && address->pluggable)) {
        return {std::string(parts.back()), false};
    }
    // Elsewhere the device folder may be a class device numbered in probe order ("nvme1"), or
    // an instance counter ("0003:1E71:170E.0003"): the deepest bus address above it is stable.
    return address ? std::move(*address) : DeviceAddress{std::string(parts.back()), false};
}

std::string_view pciFunctionFolder(std::string_view path) {
    std::size_t end = 0;
    for (std::size_t at = 0; at < path.size();) {
        const auto slash = std::min(path.find('/', at), path.size());
        if (matches(path.substr(at, slash - at), "hhhh:hh:hh.h")) {
            end = slash;
        }
        at = slash + 1;
    }
    return path.substr(0, end);
}

bool belongsToPowerSupply(std::string_view linkTarget) {
    auto parts = components(linkTarget);
    if (parts.size() < 3) {
        return false;
    }
    parts.pop_back(); // hwmonN
    if (parts.back() == "hwmon") {
        parts.pop_back();
    }
    return parts.size() >= 2 && parts[parts.size() - 2] == "power_supply";
}

std::string escapedChipName(std::string_view name) {
    std::string escaped;
    escaped.reserve(name.size());
    for (const char c : name) {
        if (c == '%') {
            escaped += "%25";
        } else if (c == '/') {
            escaped += "%2F";
        } else if (c == ' ') {
            escaped += "%20";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::vector<std::string> uniqueChipNames(const std::vector<ChipIdentity>& chips) {
    std::vector<std::string> names(chips.size());
    std::map<std::string_view, int> byName;
    for (const auto& chip : chips) {
        ++byName[chip.name];
    }
    for (std::size_t i = 0; i < chips.size(); ++i) {
        const auto& chip = chips[i];
        const DeviceAddress address = deviceAddressOf(chip.linkTarget);
        names[i] = escapedChipName(chip.name);
        // A chip on a pluggable bus carries its address even alone, so adding a second drive
        // or card does not rename the first.
        if (address.pluggable || byName[chip.name] > 1) {
            names[i] += "@" + escapedChipName(address.text.empty() ? chip.node : address.text);
        }
    }
    // Whatever still repeats is told apart by device path, which does not change across boots
    // (unlike hwmonN, which follows the order the drivers loaded in).
    std::vector<std::size_t> order(chips.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::tie(names[a], chips[a].linkTarget, chips[a].node) <
               std::tie(names[b], chips[b].linkTarget, chips[b].node);
    });
    std::set<std::string, std::less<>> taken;
    std::map<std::string, int, std::less<>> nextSuffix;
    for (const std::size_t i : order) {
        const std::string base = names[i];
        int& suffix = nextSuffix.try_emplace(base, 2).first->second;
        while (taken.contains(names[i])) {
            names[i] = base + "#" + std::to_string(suffix++);
        }
        taken.insert(names[i]);
    }
    return names;
}

std::optional<std::string> appleSiliconKeyForLabel(SensorKind kind, std::string_view label) {
    for (const auto& entry : appleSiliconLabels) {
        if (entry.kind == kind && entry.label == label) {
            return std::string(entry.key);
        }
    }
    // Dual-fan machines label their fans "Fan 1" (F0) and "Fan 2" (F1).
    constexpr std::string_view numbered = "Fan ";
    unsigned number = 0;
    if (kind == SensorKind::fan && label.starts_with(numbered) && label.size() > numbered.size() &&
        label[numbered.size()] != '0') {
        const auto digits = label.substr(numbered.size());
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error == std::errc{} && end == digits.data() + digits.size() && number >= 1 &&
            number <= 10) {
            return "F" + std::to_string(number - 1);
        }
    }
    return std::nullopt;
}

bool isSMCKeyName(std::string_view text) {
    return text.size() == 4 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

} // namespace brivane::platform::linux_backend
