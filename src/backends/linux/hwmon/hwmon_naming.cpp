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
    for (const auto& row : sensorKinds) {
        const auto& hwmon = row.hwmon;
        if (!file.starts_with(hwmon.prefix)) {
            continue;
        }
        const std::string_view rest = file.substr(hwmon.prefix.size());
        const auto underscore = std::min(rest.find('_'), rest.size());
        const std::string_view digits = rest.substr(0, underscore);
        const bool bare = underscore == rest.size();
        unsigned index = 0;
        const auto [stop, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), index);
        // "in" is not "intrusion0_alarm"'s prefix: its number must follow.
        if (error != std::errc{} || stop != digits.data() + digits.size() ||
            (digits.front() == '0' && (digits.size() > 1 || !hwmon.fromZero)) ||
            (bare ? !hwmon.item.empty() : underscore + 1 == rest.size())) {
            continue;
        }
        return AttributeName{row.kind, index,
                             bare ? std::string_view() : rest.substr(underscore + 1)};
    }
    return std::nullopt;
}

std::string_view limitItem(SensorKind kind, std::size_t limit) {
    return limit < sensorLimitCount && infoOf(kind).limits.has(static_cast<SensorLimit>(limit))
               ? sensorLimitWords[limit]
               : std::string_view();
}

std::string_view alarmItem(SensorKind kind, std::size_t alarm) {
    return alarm < sensorAlarmCount && infoOf(kind).alarms.has(static_cast<SensorAlarm>(alarm))
               ? hwmonAlarmItems[alarm]
               : std::string_view();
}

std::string attributeStem(SensorKind kind, unsigned index) {
    return std::string(infoOf(kind).hwmon.prefix) + std::to_string(index);
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
