#include "platform/linux/hwmon_naming.h"

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
};
constexpr std::array<Family, 3> families = {{
    {"temp", SensorKind::temperature},
    {"fan", SensorKind::fan},
    {"power", SensorKind::power},
}};

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

// Values drivers report for a missing or faulty input: ±127 °C (Apple SMC, Dell SMM, many
// board chips), −128 °C (it87 faulty input) and −273.15 °C (an unset limit).
constexpr std::array<std::int64_t, 4> temperatureSentinels = {127000, -127000, -128000, -273150};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view lastComponent(std::string_view& path) {
    while (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    const auto slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    path.remove_suffix(last.size());
    return last;
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
            underscore + 1 == rest.size() || rest.front() == '0') {
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

std::string deviceNameOf(std::string_view linkTarget) {
    std::string_view path = linkTarget;
    lastComponent(path); // hwmonN
    std::string_view device = lastComponent(path);
    if (device == "hwmon") { // the class folder a device without a class of its own gets
        device = lastComponent(path);
    }
    if (device == "virtual" || device == "devices" || device == "." || device == "..") {
        return {};
    }
    return std::string(device);
}

std::vector<std::string> uniqueChipNames(const std::vector<ChipIdentity>& chips) {
    std::vector<std::string> names(chips.size());
    std::map<std::string_view, int> byName;
    for (const auto& chip : chips) {
        ++byName[chip.name];
    }
    for (std::size_t i = 0; i < chips.size(); ++i) {
        const auto& chip = chips[i];
        if (byName[chip.name] == 1) {
            names[i] = chip.name;
            continue;
        }
        const std::string device = deviceNameOf(chip.linkTarget);
        names[i] = chip.name + "@" + (device.empty() ? chip.node : device);
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

std::optional<std::string_view> appleSiliconKeyForLabel(SensorKind kind, std::string_view label) {
    for (const auto& entry : appleSiliconLabels) {
        if (entry.kind == kind && entry.label == label) {
            return entry.key;
        }
    }
    return std::nullopt;
}

bool isSMCKeyName(std::string_view text) {
    return text.size() == 4 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

bool isTemperatureSentinel(std::int64_t millidegrees) {
    return std::find(temperatureSentinels.begin(), temperatureSentinels.end(), millidegrees) !=
           temperatureSentinels.end();
}

} // namespace brivane::platform::linux_backend
