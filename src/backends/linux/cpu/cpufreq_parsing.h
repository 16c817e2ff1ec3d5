#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::platform::linux_backend {

// One line of cpufreq's stats/time_in_state: a frequency in kHz and the cumulative time spent
// at it, in the file's 10 ms units.
struct FrequencyTime {
    std::uint64_t kiloHertz = 0;
    std::uint64_t ticks = 0;
};

// The file's "<kHz> <time>" lines in ascending frequency, a frequency listed twice summed.
// Nothing when a line is malformed, when there are no lines, or more than maximumFrequencies.
inline constexpr std::size_t maximumFrequencies = 256;
std::optional<std::vector<FrequencyTime>> parseTimeInState(std::string_view text);

// time_in_state counts in 10 ms units; channels carry microseconds.
inline constexpr std::uint64_t microsecondsPerTick = 10'000;

// The state name of a frequency: "1800 MHz" (kHz rounded to the nearest MHz).
std::string frequencyStateName(std::uint64_t kiloHertz);

} // namespace brivane::platform::linux_backend
