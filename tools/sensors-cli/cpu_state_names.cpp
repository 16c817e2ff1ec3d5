#include "cpu_state_names.h"

#include "backends/linux/cpu/cpu_state_discovery.h"

namespace brivane::cli {

std::map<std::string, std::vector<std::string>>
activeStateNames(const platform::IOReportChannelList& channels) {
    std::map<std::string, std::vector<std::string>> names;
    for (const auto& channel : channels) {
        const auto name = channel.channelName();
        std::string kind;
        for (const char* prefix : {"ECPU", "MCPU", "PCPU"}) {
            if (name && name->starts_with(prefix)) {
                kind = prefix;
                break;
            }
        }
        if (kind.empty() || names.contains(kind)) {
            continue;
        }
        std::vector<std::string> active;
        for (std::int32_t i = 0; i < channel.stateCount(); ++i) {
            const auto state = channel.stateName(i);
            if (state && *state != "IDLE" && *state != "DOWN" && *state != "OFF") {
                active.emplace_back(*state);
            }
        }
        if (!active.empty()) {
            names.emplace(kind, std::move(active));
        }
    }
    return names;
}

std::map<std::string, std::vector<std::string>> localStateNames() {
    const platform::posix::RootedDirectory sys("/sys"), proc("/proc");
    platform::IOReportChannelList channels;
    for (const auto& plan : platform::linux_backend::discoverCpuStatePlans(sys, proc, ::pread)) {
        channels.push_back(plan.description);
    }
    return activeStateNames(channels);
}

} // namespace brivane::cli
