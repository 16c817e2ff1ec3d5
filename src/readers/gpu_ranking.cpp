#include "readers/gpu_ranking.h"

#include <algorithm>
#include <limits>
#include <map>
#include <tuple>

namespace brivane {

namespace {

using GpuReading = ProcessDetailsSnapshot::GpuReading;
using platform::GpuClientUse;

double percent(double share) {
    return std::clamp(share, 0.0, 1.0) * 100;
}

std::int64_t signedBytes(std::uint64_t bytes) {
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(bytes, std::numeric_limits<std::int64_t>::max()));
}

GpuReading::Card cardReading(const GpuClientUse& now, const GpuClientUse* then, double elapsed) {
    GpuReading::Card card{now.card, now.pciAddress, {}, {}};
    if (now.memoryBytes)
        card.memoryBytes = signedBytes(*now.memoryBytes);
    for (const auto& [engine, share] : now.busyShare)
        if (share >= 0)
            card.enginePercent[engine] = percent(share);
    if (!then)
        return card;
    for (const auto& [engine, nanoseconds] : now.busyNanoseconds) {
        const auto before = then->busyNanoseconds.find(engine);
        if (before != then->busyNanoseconds.end() && nanoseconds >= before->second && elapsed > 0)
            card.enginePercent[engine] = percent((nanoseconds - before->second) / (elapsed * 1e9));
    }
    for (const auto& [engine, counts] : now.cycles) {
        const auto before = then->cycles.find(engine);
        if (before == then->cycles.end())
            continue;
        const auto [busy, total] = counts;
        const auto [busyBefore, totalBefore] = before->second;
        if (busy >= busyBefore && total > totalBefore)
            card.enginePercent[engine] = percent(static_cast<double>(busy - busyBefore) /
                                                 static_cast<double>(total - totalBefore));
    }
    return card;
}

} // namespace

std::vector<GpuReading>
rankGpuClients(const std::vector<GpuClientUse>& before, const std::vector<GpuClientUse>& after,
               double elapsed, const std::function<std::optional<std::string>(int32_t)>& nameOf,
               std::size_t limit) {
    using Key = std::tuple<int32_t, std::string, std::string>;
    std::map<Key, const GpuClientUse*> earlier;
    for (const GpuClientUse& use : before)
        earlier.emplace(Key{use.pid, use.card, use.pciAddress}, &use);

    std::map<int32_t, GpuReading> processes;
    for (const GpuClientUse& use : after) {
        const auto then = earlier.find(Key{use.pid, use.card, use.pciAddress});
        GpuReading& process = processes[use.pid];
        process.pid = use.pid;
        process.cards.push_back(
            cardReading(use, then == earlier.end() ? nullptr : then->second, elapsed));
        const auto& card = process.cards.back();
        for (const auto& [engine, value] : card.enginePercent)
            process.busyPercent = std::max(process.busyPercent, value);
        if (card.memoryBytes)
            process.memoryBytes =
                signedBytes(static_cast<std::uint64_t>(process.memoryBytes.value_or(0)) +
                            static_cast<std::uint64_t>(*card.memoryBytes));
    }
    std::vector<GpuReading> ranked;
    ranked.reserve(processes.size());
    for (auto& [pid, process] : processes)
        ranked.push_back(std::move(process));
    std::sort(ranked.begin(), ranked.end(), [](const GpuReading& a, const GpuReading& b) {
        return std::tuple(b.busyPercent, b.memoryBytes.value_or(-1), a.pid) <
               std::tuple(a.busyPercent, a.memoryBytes.value_or(-1), b.pid);
    });
    std::vector<GpuReading> named;
    for (GpuReading& process : ranked) {
        if (named.size() == limit)
            break;
        auto name = nameOf(static_cast<int32_t>(process.pid));
        if (!name)
            continue;
        process.name = std::move(*name);
        named.push_back(std::move(process));
    }
    return named;
}

} // namespace brivane
