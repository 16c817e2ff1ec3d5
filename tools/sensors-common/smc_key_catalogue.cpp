#include "smc_key_catalogue.h"

#include <array>

namespace brivane::cli {
namespace {

using G = SensorGroup;

// A pattern's '#' matches one digit, which also replaces the '#' of the name; '?' matches any
// character. The first matching entry wins, so exact keys stand before their families.
struct Entry {
    std::string_view pattern;
    std::string_view name;
    SensorGroup group;
};

constexpr std::array catalogue{
    // CPU: Intel-era die, proximity, heatsink and per-core keys; Apple-silicon core clusters.
    Entry{"TC0P", "CPU proximity", G::cpu},
    Entry{"TC0D", "CPU die", G::cpu},
    Entry{"TC0H", "CPU heatsink", G::cpu},
    Entry{"TCXC", "CPU package (PECI)", G::cpu},
    Entry{"TC#C", "CPU core #", G::cpu},
    Entry{"TC#c", "CPU core #", G::cpu},
    Entry{"Tp??", "CPU performance core", G::cpu},
    Entry{"Te??", "CPU efficiency core", G::cpu},
    // GPU.
    Entry{"TG0P", "GPU proximity", G::gpu},
    Entry{"TG0D", "GPU die", G::gpu},
    Entry{"TG0H", "GPU heatsink", G::gpu},
    Entry{"Tg??", "GPU core", G::gpu},
    // Memory; Tm0P is the mainboard on the Intel machines.
    Entry{"TM0P", "Memory proximity", G::memory},
    Entry{"TM#S", "Memory module #", G::memory},
    Entry{"Tm0P", "Mainboard proximity", G::mainboard},
    Entry{"Tm??", "Memory", G::memory},
    // Storage.
    Entry{"TH0x", "SSD (NAND flash)", G::storage},
    Entry{"TH#P", "Drive # proximity", G::storage},
    Entry{"TH??", "SSD", G::storage},
    // Battery and charging.
    Entry{"TB0T", "Battery", G::battery},
    Entry{"TB#T", "Battery #", G::battery},
    Entry{"TCHP", "Charge regulator", G::power},
    // Radios and the board's controllers.
    Entry{"TW0P", "Wi-Fi/Bluetooth module", G::wireless},
    Entry{"TN0P", "Northbridge proximity", G::mainboard},
    Entry{"TN0D", "Northbridge die", G::mainboard},
    Entry{"TPCD", "Platform controller hub die", G::mainboard},
    Entry{"TI#P", "Thunderbolt controller #", G::mainboard},
    Entry{"TL0P", "Display proximity", G::display},
    // Air and the case.
    Entry{"TA#P", "Ambient #", G::ambient},
    Entry{"TaLP", "Airflow left", G::ambient},
    Entry{"TaLT", "Airflow left", G::ambient},
    Entry{"TaRF", "Airflow right", G::ambient},
    Entry{"TaRT", "Airflow right", G::ambient},
    Entry{"Ta??", "Airflow", G::ambient},
    Entry{"Ts??", "Palm rest", G::surface},
    // Families by the prefixes that say for sure what they measure (the Intel Macs' TC0F, TCSA,
    // TA0V, TM0V, TW1P, …), after every exact key; any other key stays unnamed, not guessed.
    Entry{"TC0F", "CPU die", G::cpu},
    Entry{"TCG?", "CPU graphics", G::gpu},
    Entry{"TC??", "CPU", G::cpu},
    Entry{"TM??", "Memory", G::memory},
    Entry{"TW??", "Wireless", G::wireless},
    Entry{"TA??", "Ambient", G::ambient},
    Entry{"TS??", "Skin", G::surface},
    Entry{"TT??", "Thunderbolt", G::mainboard},
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The digit a '#' matched ('\0' when the pattern has none), or nothing when it does not match.
std::optional<char> match(std::string_view pattern, std::string_view key) {
    char digit = '\0';
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '#' && isDigit(key[i])) {
            digit = key[i];
        } else if (pattern[i] != '?' && pattern[i] != key[i]) {
            return std::nullopt;
        }
    }
    return digit;
}

} // namespace

std::optional<SmcKeyDescription> describeSmcKey(std::string_view key) {
    if (key.size() != 4) {
        return std::nullopt;
    }
    for (const auto& entry : catalogue) {
        if (const auto digit = match(entry.pattern, key)) {
            std::string name(entry.name);
            if (const auto at = name.find('#'); at != std::string::npos) {
                name[at] = *digit;
            }
            return SmcKeyDescription{std::move(name), entry.group};
        }
    }
    return std::nullopt;
}

std::string_view groupName(SensorGroup group) {
    switch (group) {
    case G::cpu:
        return "CPU";
    case G::gpu:
        return "GPU";
    case G::memory:
        return "memory";
    case G::storage:
        return "storage";
    case G::battery:
        return "battery";
    case G::power:
        return "power";
    case G::wireless:
        return "wireless";
    case G::mainboard:
        return "mainboard";
    case G::display:
        return "display";
    case G::ambient:
        return "ambient";
    case G::surface:
        return "surface";
    case G::other:
        break;
    }
    return "other";
}

} // namespace brivane::cli
