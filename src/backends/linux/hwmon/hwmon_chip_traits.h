#pragma once

// What a hwmon chip's driver name says about reading it: how fast, how often, and how much to
// trust what an unconnected input reads. Pure tables; the kernel's hwmon documentation and
// public bug reports are the sources.

#include <optional>
#include <string_view>

namespace brivane::platform::linux_backend {

// Which figure of the snapshot a chip's power channel stands for.
enum class PowerRole {
    none,
    system,   // the whole machine's draw (ACPI power meter)
    cpu,      // the processor alone
    graphics, // a graphics card alone (on an APU the same driver also counts the CPU)
};

struct ChipTraits {
    // Every read is a firmware call (SMM, WMI, an embedded controller) that can take hundreds
    // of milliseconds, freeze the machine while it runs or upset the firmware when repeated.
    bool slow = false;
    // The driver refreshes its values at most this often; reading faster only repeats them.
    double cacheSeconds = 0;
    // A Super-I/O or WMI board chip: it lists every fan header and input of the board, so
    // unconnected fans read 0 and unconnected inputs read garbage.
    bool listsEveryHeader = false;
    // It measures the processor (package, dies or cores).
    bool cpu = false;
    PowerRole power = PowerRole::none;
};

ChipTraits chipTraits(std::string_view name);

// An input of a board chip counts as unconnected when it reads more than kGhostMargin degrees
// above the hottest processor sensor of the same snapshot (kGhostFloor when none gives a
// value, or when they are cooler): an unconnected CPUTIN at +123.5 °C beside a package at
// 33 °C. A real board sensor (socket, VRM, chipset) stays far closer to the processor.
inline constexpr double kGhostMargin = 40;
inline constexpr double kGhostFloor = 60;
bool isGhostTemperature(double celsius, std::optional<double> hottestProcessor);

// Fans outside 0 to this many RPM are read errors (a 10^18 RPM fan does not exist).
inline constexpr double kFanCeiling = 50000;
bool isPlausibleFanSpeed(double rpm);

} // namespace brivane::platform::linux_backend
