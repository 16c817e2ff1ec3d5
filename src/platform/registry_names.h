#pragma once

// The names the snapshot looks up in the device registry, which every registry (the Apple
// platform's, and the Linux and simulated stand-ins for it) answers under the same words.

#include <string_view>

namespace brivane::platform {

namespace registry_class {
// The machine's batteries, taken together.
inline constexpr std::string_view battery = "AppleSmartBattery";
// The graphics accelerators.
inline constexpr std::string_view accelerator = "IOAccelerator";
} // namespace registry_class

// Properties of the battery entry, in the units the snapshot uses unless said otherwise. Every
// one may be absent.
namespace battery_property {
// Number: hundredths of a degree Celsius.
inline constexpr std::string_view temperature = "Temperature";
// Number: millivolts.
inline constexpr std::string_view voltage = "Voltage";
// Number: charge of all the machine's batteries together, a fraction from 0 to 1.
inline constexpr std::string_view level = "Level";
// String: "charging", "discharging", "full" or "notCharging".
inline constexpr std::string_view state = "State";
// Number: watts going into (charging) or out of (discharging) the batteries, never negative.
inline constexpr std::string_view power = "Power";
// Numbers: seconds until empty while discharging, until full while charging.
inline constexpr std::string_view secondsToEmpty = "SecondsToEmpty";
inline constexpr std::string_view secondsToFull = "SecondsToFull";
// Number: full charge capacity over design capacity.
inline constexpr std::string_view health = "Health";
// Number: charge cycles.
inline constexpr std::string_view cycleCount = "CycleCount";
} // namespace battery_property

// Properties of an accelerator entry.
namespace accelerator_property {
// String: the accelerator's class (Registry::isGraphicsAcceleratorClass).
inline constexpr std::string_view ioClass = "IOClass";
// Dictionary: the figures below.
inline constexpr std::string_view statistics = "PerformanceStatistics";
// Where the platform names its cards (Linux): string, the kernel's name ("card1").
inline constexpr std::string_view card = "CardName";
// String: the card's PCI address ("0000:03:00.0").
inline constexpr std::string_view pciAddress = "PCIAddress";
// Number: 1 while the card sleeps (runtime-suspended, none of its figures read), else 0.
inline constexpr std::string_view asleep = "Asleep";
} // namespace accelerator_property

// Numbers in an accelerator's statistics, each a percentage from 0 to 100.
namespace accelerator_statistic {
inline constexpr std::string_view deviceUtilization = "Device Utilization %";
// What some accelerators report instead of the device utilisation.
inline constexpr std::string_view gpuActivity = "GPU Activity(%)";
inline constexpr std::string_view rendererUtilization = "Renderer Utilization %";
inline constexpr std::string_view tilerUtilization = "Tiler Utilization %";
} // namespace accelerator_statistic

// Further numbers in an accelerator's statistics, each in its own unit.
namespace accelerator_figure {
// Bytes of the accelerator's memory in use, and of all of it.
inline constexpr std::string_view memoryInUse = "In use system memory";
inline constexpr std::string_view memoryTotal = "Total system memory";
// Watts the card draws, and its temperature in degrees Celsius.
inline constexpr std::string_view power = "Power (W)";
inline constexpr std::string_view temperature = "Temperature (C)";
} // namespace accelerator_figure

} // namespace brivane::platform
