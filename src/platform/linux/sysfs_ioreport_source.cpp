#include "platform/linux/sysfs_ioreport_source.h"

#include "platform/ioreport_delta.h"
#include "platform/linux/cpu_topology.h"
#include "platform/linux/cpufreq_parsing.h"
#include "platform/linux/energy_counters.h"
#include "platform/linux/hwmon_naming.h"

#include <algorithm>
#include <array>

namespace brivane::platform::linux_backend {

namespace {

constexpr std::string_view cpuGroup = "CPU Stats";
constexpr std::string_view cpuSubgroup = "CPU Core Performance States";
constexpr std::string_view energyGroup = "Energy Model";
constexpr std::uint64_t cpuEnergyID = 1, gpuEnergyID = 2, firstCpuID = 0x1000;
constexpr std::string_view cpuRoot = "devices/system/cpu/";
// Beyond this many counter files per subscription, files are opened per read.
constexpr std::size_t maximumKeptFiles = 256;
// Graphics drivers whose hwmon chip may carry an energy counter.
constexpr std::array<std::string_view, 5> graphicsChips = {"amdgpu", "i915", "nouveau", "radeon",
                                                           "xe"};

using ChannelPlan = SysfsIOReportSource::ChannelPlan;

// directory joined with a relative link target, ".." resolved: the root-relative path of a
// sysfs link such as cpu3/cpufreq -> ../cpufreq/policy2.
std::optional<std::string> resolveLink(std::string_view directory, std::string_view target) {
    if (target.empty() || target.front() == '/')
        return std::nullopt;
    std::vector<std::string_view> parts;
    auto push = [&](std::string_view path) {
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            const std::string_view part = path.substr(0, slash);
            path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
            if (part.empty() || part == ".")
                continue;
            if (part != "..")
                parts.push_back(part);
            else if (parts.empty())
                return false;
            else
                parts.pop_back();
        }
        return true;
    };
    if (!push(directory) || !push(target) || parts.empty())
        return std::nullopt;
    std::string resolved;
    for (std::string_view part : parts) {
        if (!resolved.empty())
            resolved += '/';
        resolved += part;
    }
    return resolved;
}

// One counter file of a subscription: kept open while few, else opened per read.
struct CounterFile {
    std::string path;
    host::KeptValue kept;

    host::FileText read(const host::RootedDirectory& root, std::span<char> buffer) const {
        if (kept.isOpen()) {
            host::FileText text = kept.readInto(buffer);
            if (text.outcome != host::Outcome::gone)
                return text;
        }
        // Not kept, or its node was replaced (a CPU back online): read it afresh.
        return root.readWhole(path.c_str(), buffer);
    }
};

class SysfsSubscription final : public IOReportSubscription {
public:
    struct Channel {
        ChannelPlan plan;
        std::vector<CounterFile> files; // frequency file then idle files, or the counters
        // Simple channels: last raw value and unwrapped total of each counter, advanced by
        // every sample under the subscription's mutex.
        mutable std::vector<std::uint64_t> raw, total;
        mutable std::vector<bool> primed;
    };

    const Channel* find(std::uint64_t id) const {
        for (const Channel& channel : channels)
            if (channel.plan.description.channelID == id)
                return &channel;
        return nullptr;
    }

    std::vector<Channel> channels;
    mutable std::mutex mutex; // guards the unwrapping state
};

// One sample's parsed time_in_state files, so that the CPUs of one policy read it once.
class FrequencyTables {
public:
    const std::optional<std::vector<FrequencyTime>>& read(const host::RootedDirectory& root,
                                                          const CounterFile& file) {
        for (const auto& [path, table] : tables_)
            if (*path == file.path)
                return table;
        std::array<char, 8192> buffer;
        const host::FileText text = file.read(root, buffer);
        return tables_
            .emplace_back(&file.path, text.outcome == host::Outcome::value
                                          ? parseTimeInState(text.text)
                                          : std::nullopt)
            .second;
    }

private:
    std::vector<std::pair<const std::string*, std::optional<std::vector<FrequencyTime>>>> tables_;
};

std::optional<std::uint64_t> readCounter(const host::RootedDirectory& root,
                                         const CounterFile& file) {
    std::array<char, 64> buffer;
    host::FileText text = file.read(root, buffer);
    if (text.outcome != host::Outcome::value)
        return std::nullopt;
    return host::parseUnsigned(text.text);
}

// The state channel's cumulative residencies now, in microseconds, or nothing when a file
// fails or the policy lost one of its frequencies.
std::optional<IOReportChannel> sampleStates(const host::RootedDirectory& root,
                                            const SysfsSubscription::Channel& channel,
                                            FrequencyTables& tables) {
    const auto& frequencies = tables.read(root, channel.files.front());
    if (!frequencies)
        return std::nullopt;
    IOReportChannel values = channel.plan.description;
    std::size_t state = 0;
    for (std::uint64_t kiloHertz : channel.plan.kiloHertz) {
        auto found = std::lower_bound(frequencies->begin(), frequencies->end(), kiloHertz,
                                      [](const FrequencyTime& entry, std::uint64_t wanted) {
                                          return entry.kiloHertz < wanted;
                                      });
        if (found == frequencies->end() || found->kiloHertz != kiloHertz)
            return std::nullopt;
        values.states[state++].residency =
            static_cast<std::int64_t>(found->ticks * microsecondsPerTick);
    }
    if (channel.files.size() > 1) {
        std::uint64_t idle = 0;
        for (std::size_t i = 1; i < channel.files.size(); ++i) {
            const auto time = readCounter(root, channel.files[i]);
            if (!time)
                return std::nullopt;
            idle += *time;
        }
        values.states[state].residency = static_cast<std::int64_t>(idle);
    }
    return values;
}

// The simple channel's unwrapped total now; every counter that reads advances its own total,
// and the channel has a value only when all of them read.
std::optional<IOReportChannel> sampleCounters(const host::RootedDirectory& root,
                                              const SysfsSubscription::Channel& channel) {
    bool complete = true;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < channel.files.size(); ++i) {
        const auto raw = readCounter(root, channel.files[i]);
        if (!raw) {
            complete = false;
            continue;
        }
        if (!channel.primed[i])
            channel.total[i] = *raw;
        else
            channel.total[i] += counterAdvance(channel.raw[i], *raw, channel.plan.ranges[i]);
        channel.raw[i] = *raw;
        channel.primed[i] = true;
        sum += channel.total[i];
    }
    if (!complete)
        return std::nullopt;
    IOReportChannel values = channel.plan.description;
    values.count = static_cast<std::int64_t>(sum);
    return values;
}

} // namespace

SysfsIOReportSource::SysfsIOReportSource(const std::string& sysRoot, host::KeptValue::Pread pread)
    : sys_(sysRoot), pread_(pread) {}

bool SysfsIOReportSource::readable(const std::string& relative) const {
    // Permission is settled here, once: a counter the user may not read has no channel. A
    // transient failure keeps it; its channel is then absent from that sample only.
    return host::KeptValue(sys_, relative.c_str(), pread_).readCounter().outcome !=
           host::Outcome::gone;
}

std::vector<ChannelPlan> SysfsIOReportSource::discoverCpuStates() const {
    std::vector<int> online;
    if (auto text = sys_.readText("devices/system/cpu/online"); text) {
        if (auto cpus = parseCpuList(*text))
            online = std::move(*cpus);
    } else {
        for (const std::string& entry : sys_.list("devices/system/cpu")) {
            const auto number =
                entry.rfind("cpu", 0) == 0 ? host::parseUnsigned(entry.substr(3)) : std::nullopt;
            if (number && *number <= static_cast<std::uint64_t>(maximumCpuNumber))
                online.push_back(static_cast<int>(*number));
        }
        std::sort(online.begin(), online.end());
    }
    std::vector<CpuKindFacts> facts;
    for (int cpu : online) {
        const std::string base = std::string(cpuRoot) + "cpu" + std::to_string(cpu);
        facts.push_back({cpu, sys_.readInteger((base + "/cpu_capacity").c_str()).value});
    }
    std::optional<HybridCoreLists> hybrid;
    auto small = sys_.readText("bus/event_source/devices/cpu_atom/cpus");
    auto big = sys_.readText("bus/event_source/devices/cpu_core/cpus");
    if (small || big) {
        hybrid.emplace();
        if (auto list = small ? parseCpuList(*small) : std::nullopt)
            hybrid->small = std::move(*list);
        if (auto list = big ? parseCpuList(*big) : std::nullopt)
            hybrid->big = std::move(*list);
    }
    const std::vector<ClusterKind> kinds = clusterKinds(facts, hybrid);

    std::vector<ChannelPlan> plans;
    for (std::size_t i = 0; i < online.size(); ++i) {
        const std::string base = std::string(cpuRoot) + "cpu" + std::to_string(online[i]);
        // Per-policy kernels link cpuN/cpufreq to the shared policy directory; older ones give
        // each CPU a directory of its own. Reading through the resolved link lets CPUs of one
        // policy share one file.
        std::string policy = base + "/cpufreq";
        if (auto target = sys_.linkTarget(policy.c_str()))
            policy = resolveLink(base, *target).value_or(policy);
        ChannelPlan plan;
        plan.frequencyFile = policy + "/stats/time_in_state";
        auto table = sys_.readText(plan.frequencyFile.c_str(), 64 * 1024);
        auto frequencies = table ? parseTimeInState(*table) : std::nullopt;
        if (!frequencies)
            continue; // no stats: the hardware picks its states and reports no residency
        IOReportChannel& description = plan.description;
        description.channelID = firstCpuID + static_cast<std::uint64_t>(online[i]);
        description.name = std::string(clusterPrefix(kinds[i])) + std::to_string(online[i]);
        for (const FrequencyTime& frequency : *frequencies) {
            plan.kiloHertz.push_back(frequency.kiloHertz);
            description.states.push_back({frequencyStateName(frequency.kiloHertz), 0});
        }
        for (const std::string& entry : sys_.list((base + "/cpuidle").c_str())) {
            if (entry.rfind("state", 0) == 0 && host::parseUnsigned(entry.substr(5)))
                plan.idleFiles.push_back(base + "/cpuidle/" + entry + "/time");
        }
        if (!plan.idleFiles.empty())
            description.states.push_back({std::string("IDLE"), 0});
        description.declaredStateCount = static_cast<std::int32_t>(description.states.size());
        plans.push_back(std::move(plan));
    }
    return plans;
}

std::vector<ChannelPlan> SysfsIOReportSource::discoverEnergy() const {
    std::vector<std::string> packages, uncores;
    for (const std::string& entry : sys_.list("class/powercap")) {
        const auto zone = parsePowercapZoneDirectory(entry);
        if (!zone)
            continue;
        const std::string directory = "class/powercap/" + entry;
        const auto name = sys_.readText((directory + "/name").c_str(), 64);
        const PowercapDomain domain = name ? powercapDomain(*name) : PowercapDomain::other;
        if (!zone->subzone && domain == PowercapDomain::package)
            packages.push_back(directory);
        else if (zone->subzone && domain == PowercapDomain::uncore)
            uncores.push_back(directory);
    }
    auto zonesPlan = [&](std::uint64_t id, const char* channelName,
                         const std::vector<std::string>& zones) -> std::optional<ChannelPlan> {
        if (zones.empty())
            return std::nullopt;
        ChannelPlan plan;
        plan.description.channelID = id;
        plan.description.name = channelName;
        plan.description.unit = "uJ";
        for (const std::string& zone : zones) {
            plan.counterFiles.push_back(zone + "/energy_uj");
            if (!readable(plan.counterFiles.back()))
                return std::nullopt; // a sum without one of its parts would be wrong
            plan.ranges.push_back(
                sys_.readCounter((zone + "/max_energy_range_uj").c_str()).value.value_or(0));
        }
        return plan;
    };

    std::vector<ChannelPlan> plans;
    if (auto cpu = zonesPlan(cpuEnergyID, "CPU Energy", packages))
        plans.push_back(std::move(*cpu));
    auto gpu = zonesPlan(gpuEnergyID, "GPU Energy", uncores);
    if (!gpu) {
        std::vector<std::string> counters;
        for (const std::string& entry : sys_.list("class/hwmon")) {
            const std::string chip = "class/hwmon/" + entry;
            const auto name = sys_.readText((chip + "/name").c_str(), 64);
            if (!name || std::find(graphicsChips.begin(), graphicsChips.end(),
                                   cleanLabel(*name).value_or("")) == graphicsChips.end())
                continue;
            if (readable(chip + "/energy1_input"))
                counters.push_back(chip + "/energy1_input");
        }
        if (!counters.empty()) {
            gpu.emplace();
            gpu->description.channelID = gpuEnergyID;
            gpu->description.name = "GPU Energy";
            gpu->description.unit = "uJ";
            gpu->counterFiles = std::move(counters);
            gpu->ranges.assign(gpu->counterFiles.size(), 0); // 64-bit counters, no wrap range
        }
    }
    if (gpu)
        plans.push_back(std::move(*gpu));
    return plans;
}

std::optional<IOReportChannelList>
SysfsIOReportSource::copyChannelsInGroup(std::string_view group,
                                         std::optional<std::string_view> subgroup) {
    std::vector<ChannelPlan> plans;
    if (group == cpuGroup && (!subgroup || *subgroup == cpuSubgroup))
        plans = discoverCpuStates();
    else if (group == energyGroup && !subgroup)
        plans = discoverEnergy();
    if (plans.empty())
        return std::nullopt;
    IOReportChannelList channels;
    std::lock_guard lock(mutex_);
    for (ChannelPlan& plan : plans) {
        channels.push_back(plan.description);
        const std::uint64_t id = plan.description.channelID;
        plans_.insert_or_assign(id, std::move(plan));
    }
    return channels;
}

std::optional<IOReportChannelList>
SysfsIOReportSource::createMutableCopy(const IOReportChannelList& channels) {
    return channels;
}

IOReportSubscriptionResult
SysfsIOReportSource::createSubscription(const IOReportChannelList& channels) {
    auto subscription = std::make_unique<SysfsSubscription>();
    IOReportChannelList subscribed;
    std::size_t kept = 0;
    {
        std::lock_guard lock(mutex_);
        for (const IOReportChannel& wanted : channels) {
            auto found = plans_.find(wanted.channelID);
            if (found == plans_.end() || subscription->find(wanted.channelID))
                continue;
            SysfsSubscription::Channel channel;
            channel.plan = found->second;
            std::vector<std::string> paths = channel.plan.counterFiles;
            if (!channel.plan.frequencyFile.empty()) {
                paths = {channel.plan.frequencyFile};
                paths.insert(paths.end(), channel.plan.idleFiles.begin(),
                             channel.plan.idleFiles.end());
            }
            for (std::string& path : paths) {
                CounterFile file{std::move(path), {}};
                if (kept < maximumKeptFiles) {
                    file.kept = host::KeptValue(sys_, file.path.c_str(), pread_);
                    kept += file.kept.isOpen() ? 1 : 0;
                }
                channel.files.push_back(std::move(file));
            }
            channel.raw.assign(channel.files.size(), 0);
            channel.total.assign(channel.files.size(), 0);
            channel.primed.assign(channel.files.size(), false);
            subscribed.push_back(channel.plan.description);
            subscription->channels.push_back(std::move(channel));
        }
    }
    IOReportSubscriptionResult result;
    if (subscribed.empty())
        return result;
    result.subscription = std::move(subscription);
    result.subscribedChannels = std::move(subscribed);
    return result;
}

std::optional<IOReportSample>
SysfsIOReportSource::createSamples(const IOReportSubscription& subscription,
                                   const IOReportChannelList& channels) {
    const auto* ours = dynamic_cast<const SysfsSubscription*>(&subscription);
    if (!ours)
        return std::nullopt;
    std::lock_guard lock(ours->mutex);
    IOReportSample sample;
    sample.channels.reserve(channels.size());
    FrequencyTables tables;
    for (const IOReportChannel& wanted : channels) {
        const auto* channel = ours->find(wanted.channelID);
        if (!channel)
            continue;
        auto values = channel->plan.frequencyFile.empty() ? sampleCounters(sys_, *channel)
                                                          : sampleStates(sys_, *channel, tables);
        if (values)
            sample.channels.push_back(std::move(*values));
    }
    return sample;
}

std::optional<IOReportDelta> SysfsIOReportSource::createSamplesDelta(const IOReportSample& older,
                                                                     const IOReportSample& newer) {
    return IOReportDelta{subtractSamples(older, newer)};
}

} // namespace brivane::platform::linux_backend
