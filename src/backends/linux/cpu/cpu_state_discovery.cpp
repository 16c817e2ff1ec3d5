#include "backends/linux/cpu/cpu_state_discovery.h"

#include "backends/linux/cpu/cpu_topology.h"
#include "backends/linux/cpu/cpufreq_parsing.h"
#include "backends/linux/polling/counter_file.h"
#include "backends/posix/kernel_files/proc_fields.h"

#include <algorithm>
#include <array>

namespace brivane::platform::linux_backend {

namespace {

constexpr std::uint64_t firstCpuID = 0x1000;
constexpr std::string_view cpuRoot = "devices/system/cpu/";

// What discovery learns of one CPU before the bins of its kind are known.
struct Candidate {
    CpuStatePlan plan;
    ClusterKind kind = ClusterKind::performance;
    std::uint64_t minimum = 0, maximum = 0;
    std::vector<std::uint64_t> available;
};

std::vector<std::uint64_t> frequencyList(std::string_view text) {
    std::vector<std::uint64_t> list;
    for (std::string_view field = posix::nextField(text); !field.empty();
         field = posix::nextField(text))
        if (auto kiloHertz = posix::parseUnsigned(field))
            list.push_back(*kiloHertz);
    return list;
}

// The CPUs of one kind share their bins, so that the reader can sum them: from the lowest
// minimum to the highest maximum of the kind (the cores a hybrid or favoured-core machine boosts
// higher), or the available frequencies when all of them list the same.
void binByKind(std::vector<Candidate>& candidates) {
    for (ClusterKind kind :
         {ClusterKind::efficiency, ClusterKind::middle, ClusterKind::performance}) {
        std::uint64_t minimum = UINT64_MAX, maximum = 0;
        const std::vector<std::uint64_t>* available = nullptr;
        bool sameList = true;
        for (const Candidate& candidate : candidates) {
            if (candidate.plan.timeInState || candidate.kind != kind)
                continue;
            minimum = std::min(minimum, candidate.minimum);
            maximum = std::max(maximum, candidate.maximum);
            if (available && *available != candidate.available)
                sameList = false;
            available = &candidate.available;
        }
        if (!available)
            continue;
        const auto bins =
            frequencyBins(minimum, maximum, sameList ? *available : std::vector<std::uint64_t>{});
        for (Candidate& candidate : candidates)
            if (!candidate.plan.timeInState && candidate.kind == kind)
                candidate.plan.kiloHertz = bins;
    }
}

} // namespace

std::vector<int> onlineCpus(const posix::RootedDirectory& sys) {
    std::vector<int> online;
    if (auto text = sys.readText("devices/system/cpu/online"); text) {
        if (auto cpus = parseCpuList(*text))
            online = std::move(*cpus);
        return online;
    }
    for (const std::string& entry : sys.list("devices/system/cpu")) {
        const auto number =
            entry.rfind("cpu", 0) == 0 ? posix::parseUnsigned(entry.substr(3)) : std::nullopt;
        if (number && *number <= static_cast<std::uint64_t>(maximumCpuNumber))
            online.push_back(static_cast<int>(*number));
    }
    std::sort(online.begin(), online.end());
    return online;
}

std::vector<ClusterKind> kindsOf(const posix::RootedDirectory& sys,
                                 const std::vector<int>& online) {
    std::vector<CpuKindFacts> facts;
    for (int cpu : online) {
        const std::string base = std::string(cpuRoot) + "cpu" + std::to_string(cpu);
        facts.push_back({cpu, sys.readInteger((base + "/cpu_capacity").c_str()).value});
    }
    std::optional<HybridCoreLists> hybrid;
    auto small = sys.readText("bus/event_source/devices/cpu_atom/cpus");
    auto big = sys.readText("bus/event_source/devices/cpu_core/cpus");
    if (small || big) {
        hybrid.emplace();
        if (auto list = small ? parseCpuList(*small) : std::nullopt)
            hybrid->small = std::move(*list);
        if (auto list = big ? parseCpuList(*big) : std::nullopt)
            hybrid->big = std::move(*list);
    }
    return clusterKinds(facts, hybrid);
}

std::vector<CpuStatePlan> discoverCpuStatePlans(const posix::RootedDirectory& sys,
                                                const posix::RootedDirectory& proc,
                                                posix::KeptValue::Pread pread) {
    // Active and idle time come from /proc/stat; without it there is nothing to report.
    std::array<char, 512> head;
    const auto stat = proc.readHead("stat", head);
    if (!stat || !stat->starts_with("cpu"))
        return {};
    const std::vector<int> online = onlineCpus(sys);
    const std::vector<ClusterKind> kinds = kindsOf(sys, online);
    const auto readable = [&](const std::string& path) {
        const auto outcome = posix::KeptValue(sys, path.c_str(), pread).readCounter().outcome;
        return outcome != posix::Outcome::gone && outcome != posix::Outcome::denied;
    };

    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < online.size(); ++i) {
        const std::string base = std::string(cpuRoot) + "cpu" + std::to_string(online[i]);
        // Per-policy kernels link cpuN/cpufreq to the shared policy directory; older ones give
        // each CPU a directory of its own. Reading through the resolved link lets CPUs of one
        // policy share one file.
        std::string policy = base + "/cpufreq";
        if (auto target = sys.linkTarget(policy.c_str()))
            policy = resolveLink(base, *target).value_or(policy);
        Candidate candidate;
        candidate.kind = kinds[i];
        CpuStatePlan& plan = candidate.plan;
        plan.cpu = online[i];
        plan.frequencyFile = policy + "/stats/time_in_state";
        const auto table = sys.readText(plan.frequencyFile.c_str(), 64 * 1024);
        if (auto frequencies = table ? parseTimeInState(*table) : std::nullopt) {
            plan.timeInState = true;
            for (const FrequencyTime& frequency : *frequencies)
                plan.kiloHertz.push_back(frequency.kiloHertz);
        } else {
            // No stats table (intel_pstate, amd-pstate, most VMs): sample the frequency.
            plan.frequencyFile = policy + "/cpuinfo_avg_freq";
            if (!readable(plan.frequencyFile))
                plan.frequencyFile = policy + "/scaling_cur_freq";
            if (!readable(plan.frequencyFile))
                continue;
            const auto limit = [&](const char* leaf) {
                return sys.readCounter((policy + "/" + leaf).c_str()).value.value_or(0);
            };
            candidate.minimum = limit("cpuinfo_min_freq");
            candidate.maximum = limit("cpuinfo_max_freq");
            if (auto list = sys.readText((policy + "/scaling_available_frequencies").c_str()))
                candidate.available = frequencyList(*list);
        }
        candidates.push_back(std::move(candidate));
    }
    binByKind(candidates);

    std::vector<CpuStatePlan> plans;
    for (Candidate& candidate : candidates) {
        CpuStatePlan& plan = candidate.plan;
        if (plan.kiloHertz.empty())
            continue; // a sampled CPU without sensible limits
        IOReportChannel& description = plan.description;
        description.channelID = firstCpuID + static_cast<std::uint64_t>(plan.cpu);
        description.name = std::string(clusterPrefix(candidate.kind)) + std::to_string(plan.cpu);
        for (std::uint64_t kiloHertz : plan.kiloHertz)
            description.states.push_back({frequencyStateName(kiloHertz), 0});
        description.states.push_back({std::string("IDLE"), 0});
        description.declaredStateCount = static_cast<std::int32_t>(description.states.size());
        plans.push_back(std::move(plan));
    }
    return plans;
}

} // namespace brivane::platform::linux_backend
