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

// Board chips list inputs nothing is connected to, which read garbage: a CPUTIN at +123.5 °C,
// an AUXTIN at 95 °C beside a processor at 45 °C. An input of theirs is hidden from a snapshot
// on which it reads more than kGhostMargin degrees above the hottest processor sensor (taken
// as kCoolProcessor when cooler; above kGhostCeiling when no processor sensor reads), and is
// shown again on a later snapshot where it no longer does and has moved at least kGhostMove
// degrees from the reading that hid it. An unconnected input holds its garbage; a real sensor
// (a voltage regulator still hot after a load the processor has already shed) cools, so it is
// hidden for a while, not for the agent's life.
inline constexpr double kGhostMargin = 40;
inline constexpr double kCoolProcessor = 45;
inline constexpr double kGhostCeiling = 100;
inline constexpr double kGhostMove = 10;
// Whether an input reading `celsius` is hidden on this snapshot; `hiddenAt` is the reading that
// hid it, when it is hidden already.
bool isGhostTemperature(double celsius, std::optional<double> hottestProcessor,
                        std::optional<double> hiddenAt = std::nullopt);

// Fans outside 0 to this many RPM are read errors (a 10^18 RPM fan does not exist).
inline constexpr double kFanCeiling = 50000;
bool isPlausibleFanSpeed(double rpm);

} // namespace brivane::platform::linux_backend
