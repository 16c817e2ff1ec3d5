#pragma once

#include <string_view>

// Properties of the machine's battery entry ("AppleSmartBattery") beyond "Temperature" and
// "Voltage", in the units the snapshot uses. Every one may be absent.
namespace brivane::platform::battery_property {

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

} // namespace brivane::platform::battery_property
