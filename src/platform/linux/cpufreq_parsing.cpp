#include "platform/linux/cpufreq_parsing.h"

#include <algorithm>
#include <charconv>

namespace brivane::platform::linux_backend {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::optional<std::uint64_t> unsignedField(std::string_view text) {
    std::uint64_t value = 0;
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<std::vector<FrequencyTime>> parseTimeInState(std::string_view text) {
    std::vector<FrequencyTime> states;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.empty())
            continue;
        std::size_t gap = 0;
        while (gap < line.size() && !isBlank(line[gap]))
            ++gap;
        const auto kiloHertz = unsignedField(line.substr(0, gap));
        const auto ticks = unsignedField(trimmed(line.substr(gap)));
        if (!kiloHertz || !ticks || states.size() == maximumFrequencies)
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
