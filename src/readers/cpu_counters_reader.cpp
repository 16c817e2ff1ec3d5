#include "readers/cpu_counters_reader.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace brivane {

namespace {

constexpr std::array<std::string_view, 3> clusterPrefixes{"ECPU", "MCPU", "PCPU"};

std::optional<std::string_view> clusterOf(std::string_view channelName) {
    for (const auto prefix : clusterPrefixes)
        if (channelName.starts_with(prefix))
            return prefix;
    return std::nullopt;
}

// Counters are unsigned on every platform: one past the signed range has wrapped.
double nonNegative(std::int64_t value) {
    return value < 0 ? 0.0 : static_cast<double>(value);
}

} // namespace

std::optional<platform::IOReportSample>
CPUCountersReader::sample(std::optional<IOReportGroupSubscription>& group,
                          std::string_view subgroup) {
    if (!source_)
        return std::nullopt;
    if (!group || !group->subscription)
        group = subscribeToGroup(*source_, "CPU Stats", subgroup);
    if (!group || !group->subscription)
        return std::nullopt;
    auto sample = source_->createSamples(*group->subscription, group->channels);
    if (!sample || sample->channels.empty())
        group.reset();
    return sample;
}

decltype(CPUDetailsSnapshot::idleStates) CPUCountersReader::idleStates() {
    try {
        const auto taken = sample(idle_, "CPU Core Idle States");
        if (!taken || taken->channels.empty())
            return std::nullopt;
        std::map<std::string, std::vector<CPUDetailsSnapshot::IdleState>, std::less<>> kinds;
        for (const auto& channel : taken->channels) {
            const auto name = channel.channelName();
            const auto kind = name ? clusterOf(*name) : std::nullopt;
            if (!kind)
                continue;
            auto& states = kinds[std::string(*kind)];
            const auto count = std::min<std::int32_t>(channel.stateCount(), 64);
            for (std::int32_t index = 0; index < count; ++index) {
                const auto state = channel.stateName(index);
                if (!state)
                    continue;
                // The CPUs of a kind share their driver, so their states; one that differs
                // is added, not lost.
                auto found = std::find_if(states.begin(), states.end(),
                                          [&](const auto& known) { return known.name == *state; });
                if (found == states.end())
                    found = states.insert(states.end(), {std::string(*state), 0});
                found->seconds += nonNegative(channel.stateResidency(index)) / 1e6;
            }
        }
        if (kinds.empty())
            return std::nullopt;
        return kinds;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<CPUDetailsSnapshot::Throttling> CPUCountersReader::throttling() {
    try {
        const auto taken = sample(throttling_, "CPU Thermal Throttling");
        if (!taken || taken->channels.empty())
            return std::nullopt;
        CPUDetailsSnapshot::Throttling result;
        for (const auto& channel : taken->channels) {
            std::string_view name = channel.channelName().value_or("");
            const bool time = name.ends_with(" throttle time");
            if (!time && !name.ends_with(" throttles"))
                continue;
            name.remove_suffix(time ? 14 : 10);
            CPUDetailsSnapshot::ThrottleCount* count = nullptr;
            if (const auto kind = clusterOf(name); kind && name == std::string(*kind) + " core")
                count = &result.cores[std::string(*kind)];
            else if (name.starts_with("package") && name.size() > 7)
                count = &result.packages[std::string(name.substr(7))];
            if (!count)
                continue;
            if (time)
                count->seconds = nonNegative(channel.simpleIntegerValue()) / 1e3;
            else
                count->events =
                    static_cast<std::int64_t>(nonNegative(channel.simpleIntegerValue()));
        }
        if (result.cores.empty() && result.packages.empty())
            return std::nullopt;
        return result;
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace brivane
