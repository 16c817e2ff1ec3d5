#include "backends/linux/cpu/cpufreq_parsing.h"

#include "backends/posix/kernel_files/proc_fields.h"

#include <algorithm>

namespace brivane::platform::linux_backend {

std::optional<std::vector<FrequencyTime>> parseTimeInState(std::string_view text) {
    std::vector<FrequencyTime> states;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        const std::string_view first = posix::nextField(line);
        if (first.empty())
            continue;
        const auto kiloHertz = posix::parseUnsigned(first);
        const auto ticks = posix::parseUnsigned(posix::nextField(line));
        if (!kiloHertz || !ticks || !posix::nextField(line).empty() ||
            states.size() == maximumFrequencies)
            return std::nullopt;
        states.push_back({*kiloHertz, *ticks});
    }
    if (states.empty())
        return std::nullopt;
    std::sort(states.begin(), states.end(),
              [](const auto& a, const auto& b) { return a.kiloHertz < b.kiloHertz; });
    std::vector<FrequencyTime> merged;
    for (const auto& state : states) {
        if (!merged.empty() && merged.back().kiloHertz == state.kiloHertz)
            merged.back().ticks += state.ticks;
        else
            merged.push_back(state);
    }
    return merged;
}

std::string frequencyStateName(std::uint64_t kiloHertz) {
    return std::to_string((kiloHertz + 500) / 1000) + " MHz";
}

} // namespace brivane::platform::linux_backend
