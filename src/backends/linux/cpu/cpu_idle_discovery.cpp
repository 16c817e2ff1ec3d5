#include "backends/linux/cpu/cpu_idle_discovery.h"

#include "backends/linux/cpu/cpu_state_discovery.h"
#include "backends/linux/cpu/cpu_topology.h"
#include "backends/linux/cpu/cpuidle_parsing.h"

#include <algorithm>
#include <set>

namespace brivane::platform::linux_backend {

namespace {

constexpr std::uint64_t firstIdleID = 0x4000, firstThrottleID = 0x6000;

std::string cpuFolder(int cpu) {
    return "devices/system/cpu/cpu" + std::to_string(cpu) + "/";
}

bool readable(const posix::RootedDirectory& sys, const std::string& file) {
    return sys.readCounter(file.c_str()).value.has_value();
}

// The counters of one kind or package: events and milliseconds.
struct ThrottleSums {
    std::vector<std::string> counts, times;
    bool timed = true; // every part counts its time too
    void add(const std::string& folder, const std::string& scope, bool timeCounted) {
        counts.push_back(folder + scope + "_throttle_count");
        times.push_back(folder + scope + "_throttle_total_time_ms");
        timed = timed && timeCounted;
    }
};

void addThrottleChannels(std::vector<SummedChannel>& out, const std::string& name,
                         const ThrottleSums& sums) {
    const auto add = [&](std::string channelName, const char* unit,
                         const std::vector<std::string>& files) {
        SummedChannel channel;
        channel.description.channelID = firstThrottleID + out.size();
        channel.description.name = std::move(channelName);
        channel.description.unit = unit;
        channel.sums = {files};
        out.push_back(std::move(channel));
    };
    add(name + " throttles", "events", sums.counts);
    if (sums.timed)
        add(name + " throttle time", "ms", sums.times);
}

} // namespace

std::vector<SummedChannel> discoverIdleChannels(const posix::RootedDirectory& sys) {
    const std::vector<int> online = onlineCpus(sys);
    const std::vector<ClusterKind> kinds = kindsOf(sys, online);
    std::vector<SummedChannel> channels;
    for (std::size_t i = 0; i < online.size(); ++i) {
        const std::string folder = cpuFolder(online[i]) + "cpuidle/";
        std::vector<int> numbers;
        sys.forEachEntry(folder.c_str(), [&](std::string_view entry) {
            if (auto number = idleStateNumber(entry))
                numbers.push_back(*number);
        });
        std::sort(numbers.begin(), numbers.end());
        SummedChannel channel;
        for (int number : numbers) {
            const std::string state = folder + "state" + std::to_string(number) + "/";
            const auto text = sys.readText((state + "name").c_str(), 64);
            auto name = text ? idleStateName(*text) : std::nullopt;
            if (!name || !readable(sys, state + "time"))
                continue;
            channel.description.states.push_back({std::move(name), 0});
            channel.sums.push_back({state + "time"});
        }
        if (channel.sums.empty())
            continue;
        channel.description.channelID = firstIdleID + static_cast<std::uint64_t>(online[i]);
        channel.description.name = std::string(clusterPrefix(kinds[i])) + std::to_string(online[i]);
        channel.description.unit = "us";
        channel.description.declaredStateCount =
            static_cast<std::int32_t>(channel.description.states.size());
        channels.push_back(std::move(channel));
    }
    return channels;
}

std::vector<SummedChannel> discoverThrottleChannels(const posix::RootedDirectory& sys) {
    const std::vector<int> online = onlineCpus(sys);
    const std::vector<ClusterKind> kinds = kindsOf(sys, online);
    std::map<ClusterKind, ThrottleSums> cores;
    std::map<std::int64_t, ThrottleSums> packages;
    std::set<int> counted; // CPUs whose core is counted already
    for (std::size_t i = 0; i < online.size(); ++i) {
        const int cpu = online[i];
        const std::string folder = cpuFolder(cpu);
        const std::string counters = folder + "thermal_throttle/";
        if (!counted.contains(cpu) && readable(sys, counters + "core_throttle_count")) {
            cores[kinds[i]].add(counters, "core",
                                readable(sys, counters + "core_throttle_total_time_ms"));
            auto siblings = sys.readText((folder + "topology/core_cpus_list").c_str());
            if (!siblings)
                siblings = sys.readText((folder + "topology/thread_siblings_list").c_str());
            if (auto list = siblings ? parseCpuList(*siblings) : std::nullopt)
                counted.insert(list->begin(), list->end());
        }
        const auto package =
            sys.readInteger((folder + "topology/physical_package_id").c_str()).value.value_or(0);
        if (!packages.contains(package) && readable(sys, counters + "package_throttle_count"))
            packages[package].add(counters, "package",
                                  readable(sys, counters + "package_throttle_total_time_ms"));
    }
    std::vector<SummedChannel> channels;
    for (const auto& [kind, sums] : cores)
        addThrottleChannels(channels, std::string(clusterPrefix(kind)) + " core", sums);
    for (const auto& [package, sums] : packages)
        addThrottleChannels(channels, "package" + std::to_string(package), sums);
    return channels;
}

} // namespace brivane::platform::linux_backend
