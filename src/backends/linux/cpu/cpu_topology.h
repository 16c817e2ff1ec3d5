#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace brivane::platform::linux_backend {

// A kernel CPU list such as "0-3,8,10-11\n" as ascending, distinct CPU numbers. An empty list
// (an empty file) is valid; anything malformed, a reversed range or a number above
// maximumCpuNumber is nothing.
inline constexpr int maximumCpuNumber = 8191;
std::optional<std::vector<int>> parseCpuList(std::string_view text);

enum class ClusterKind { efficiency, middle, performance };

// "ECPU", "MCPU" or "PCPU": the prefix of the channel names of that kind.
std::string_view clusterPrefix(ClusterKind kind);

// What the kernel says about one CPU's kind.
struct CpuKindFacts {
    int cpu = 0;
    std::optional<std::int64_t> capacity; // cpu_capacity, on asymmetric machines
};

// Hybrid machines list their small and big cores separately; either list may be empty.
struct HybridCoreLists {
    std::vector<int> small; // the atom cores
    std::vector<int> big;   // the core cores
};

// One kind per entry of `cpus`. Hybrid lists decide when present (small cores efficiency,
// the rest performance); otherwise capacities, when every CPU has one and they differ: the
// lowest efficiency, the highest performance, the others middle. Else every CPU is
// performance. Hybrid lists win because such machines also publish capacities that differ
// between big cores of one kind.
std::vector<ClusterKind> clusterKinds(const std::vector<CpuKindFacts>& cpus,
                                      const std::optional<HybridCoreLists>& hybrid);

} // namespace brivane::platform::linux_backend
