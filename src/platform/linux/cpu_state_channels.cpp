#include "platform/linux/cpu_state_channels.h"

#include "platform/linux/counter_file.h"
#include "platform/linux/cpu_topology.h"
#include "platform/linux/cpufreq_parsing.h"

#include <algorithm>
#include <array>

namespace brivane::platform::linux_backend {

namespace {

constexpr std::string_view cpuGroup = "CPU Stats";
constexpr std::string_view cpuSubgroup = "CPU Core Performance States";
constexpr std::uint64_t firstCpuID = 0x1000;
constexpr std::string_view cpuRoot = "devices/system/cpu/";

using Plan = CpuStateChannels::Plan;

// One sample's parsed time_in_state files, so that the CPUs of one policy read it once.
class FrequencyTables {
public:
    const std::optional<std::vector<FrequencyTime>>& read(const host::RootedDirectory& root,
                                                          const CounterFile& file) {
        for (const auto& [path, table] : tables_)
            if (*path == file.path())
                return table;
        std::array<char, 8192> buffer;
        const host::FileText text = file.read(root, buffer);
        return tables_
            .emplace_back(&file.path(), text.outcome == host::Outcome::value
                                            ? parseTimeInState(text.text)
                                            : std::nullopt)
            .second;
    }

private:
    std::vector<std::pair<const std::string*, std::optional<std::vector<FrequencyTime>>>> tables_;
};

class CpuStateReader final : public GroupReader {
public:
    struct Channel {
        Plan plan;
        std::vector<CounterFile> files; // the frequency file, then the idle files
    };

    CpuStateReader(const host::RootedDirectory& sys, std::vector<Channel> channels)
        : sys_(sys), channels_(std::move(channels)) {
        for (const Channel& channel : channels_)
            descriptions_.push_back(channel.plan.description);
    }

    const IOReportChannelList& channels() const override { return descriptions_; }

    void sample(const IOReportChannelList& wanted, IOReportChannelList& out) override {
        FrequencyTables tables;
        for (const IOReportChannel& want : wanted)
            for (const Channel& channel : channels_)
                if (channel.plan.description.channelID == want.channelID) {
                    if (auto values = sampleStates(channel, tables))
                        out.push_back(std::move(*values));
                    break;
                }
    }

private:
    // The channel's cumulative residencies now, in microseconds, or nothing when a file fails
    // or the policy lost one of its frequencies.
    std::optional<IOReportChannel> sampleStates(const Channel& channel,
                                                FrequencyTables& tables) const {
        const auto& frequencies = tables.read(sys_, channel.files.front());
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
                const auto time = channel.files[i].readCounter(sys_);
                if (!time)
                    return std::nullopt;
                idle += *time;
            }
            values.states[state].residency = static_cast<std::int64_t>(idle);
        }
        return values;
    }

    const host::RootedDirectory& sys_;
    std::vector<Channel> channels_;
    IOReportChannelList descriptions_;
};

} // namespace

CpuStateChannels::CpuStateChannels(const host::RootedDirectory& sys, host::KeptValue::Pread pread)
    : sys_(sys), pread_(pread) {}

bool CpuStateChannels::names(std::string_view group,
                             std::optional<std::string_view> subgroup) const {
    return group == cpuGroup && (!subgroup || *subgroup == cpuSubgroup);
}

std::optional<IOReportChannelList> CpuStateChannels::discover() {
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

    std::vector<Plan> plans;
    for (std::size_t i = 0; i < online.size(); ++i) {
        const std::string base = std::string(cpuRoot) + "cpu" + std::to_string(online[i]);
        // Per-policy kernels link cpuN/cpufreq to the shared policy directory; older ones give
        // each CPU a directory of its own. Reading through the resolved link lets CPUs of one
        // policy share one file.
        std::string policy = base + "/cpufreq";
        if (auto target = sys_.linkTarget(policy.c_str()))
            policy = resolveLink(base, *target).value_or(policy);
        Plan plan;
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
    if (plans.empty())
        return std::nullopt;
    IOReportChannelList channels;
    std::lock_guard lock(mutex_);
    for (Plan& plan : plans) {
        channels.push_back(plan.description);
        plans_.insert_or_assign(plan.description.channelID, std::move(plan));
    }
    return channels;
}

std::unique_ptr<GroupReader> CpuStateChannels::subscribe(const IOReportChannelList& wanted,
                                                         std::size_t& kept) {
    std::vector<CpuStateReader::Channel> channels;
    std::lock_guard lock(mutex_);
    for (const IOReportChannel& want : wanted) {
        const auto found = plans_.find(want.channelID);
        if (found == plans_.end() ||
            std::any_of(channels.begin(), channels.end(), [&](const auto& channel) {
                return channel.plan.description.channelID == want.channelID;
            }))
            continue;
        CpuStateReader::Channel channel{found->second, {}};
        channel.files.emplace_back(sys_, channel.plan.frequencyFile, pread_, kept);
        for (const std::string& path : channel.plan.idleFiles)
            channel.files.emplace_back(sys_, path, pread_, kept);
        channels.push_back(std::move(channel));
    }
    if (channels.empty())
        return nullptr;
    return std::make_unique<CpuStateReader>(sys_, std::move(channels));
}

} // namespace brivane::platform::linux_backend
