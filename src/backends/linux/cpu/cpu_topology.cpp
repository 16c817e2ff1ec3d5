#include "backends/linux/cpu/cpu_topology.h"

#include "base/whole_number.h"

#include <algorithm>
#include <array>

namespace brivane::platform::linux_backend {

namespace {

std::optional<int> cpuNumber(std::string_view text) {
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    const auto value = base::wholeNumber<int>(text);
    if (!value || *value > maximumCpuNumber)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::vector<int>> parseCpuList(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    std::vector<int> cpus;
    if (text.empty())
        return cpus;
    // A set of CPU numbers filled a word at a time, so repeated or overlapping ranges cost
    // little.
    std::array<std::uint64_t, maximumCpuNumber / 64 + 1> listed{};
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t dash = item.find('-');
        const auto first = cpuNumber(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : cpuNumber(item.substr(dash + 1));
        if (!first || !last || *last < *first)
            return std::nullopt;
        for (int cpu = *first; cpu <= *last;) {
            if (cpu % 64 == 0 && cpu + 63 <= *last) {
                listed[cpu / 64] = ~std::uint64_t{0};
                cpu += 64;
            } else {
                listed[cpu / 64] |= std::uint64_t{1} << (cpu % 64);
                ++cpu;
            }
        }
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    for (std::size_t word = 0; word < listed.size(); ++word) {
        for (int bit = 0; bit < 64 && listed[word] >> bit != 0; ++bit) {
            if (listed[word] >> bit & 1)
                cpus.push_back(static_cast<int>(word * 64) + bit);
        }
    }
    return cpus;
}

std::string_view clusterPrefix(ClusterKind kind) {
    switch (kind) {
    case ClusterKind::efficiency:
        return "ECPU";
    case ClusterKind::middle:
        return "MCPU";
    case ClusterKind::performance:
        return "PCPU";
    }
    return "PCPU";
}

std::vector<ClusterKind> clusterKinds(const std::vector<CpuKindFacts>& cpus,
                                      const std::optional<HybridCoreLists>& hybrid) {
    std::vector<ClusterKind> kinds(cpus.size(), ClusterKind::performance);
    if (hybrid && (!hybrid->small.empty() || !hybrid->big.empty())) {
        for (std::size_t i = 0; i < cpus.size(); ++i) {
            if (std::binary_search(hybrid->small.begin(), hybrid->small.end(), cpus[i].cpu))
                kinds[i] = ClusterKind::efficiency;
        }
        return kinds;
    }
    if (cpus.empty() ||
        !std::all_of(cpus.begin(), cpus.end(), [](const auto& c) { return c.capacity; }))
        return kinds;
    const auto [lowest, highest] =
        std::minmax_element(cpus.begin(), cpus.end(),
                            [](const auto& a, const auto& b) { return *a.capacity < *b.capacity; });
    const std::int64_t low = *lowest->capacity, high = *highest->capacity;
    if (low == high)
        return kinds;
    for (std::size_t i = 0; i < cpus.size(); ++i) {
        const std::int64_t capacity = *cpus[i].capacity;
        kinds[i] = capacity == low    ? ClusterKind::efficiency
                   : capacity == high ? ClusterKind::performance
                                      : ClusterKind::middle;
    }
    return kinds;
}

} // namespace brivane::platform::linux_backend
