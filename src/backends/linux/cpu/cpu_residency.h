#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace brivane::platform::linux_backend {

// One CPU's line of /proc/stat, in the file's USER_HZ ticks: active is user + nice + system +
// irq + softirq (guest time is inside user), idle is idle + iowait; steal is neither.
struct CpuTimes {
    int cpu = 0;
    std::uint64_t active = 0;
    std::uint64_t idle = 0;
};

// "cpu3 4705 150 1120 16250 520 30 45 0 0 0": nothing for the all-CPU "cpu" line, another
// line, fewer than four figures or a malformed one.
std::optional<CpuTimes> parseProcStatCpuLine(std::string_view line);

// Calls visit(CpuTimes) for each per-CPU line of /proc/stat's text. The CPU lines come first;
// the first other line ends them. A last line without its line feed was cut and is skipped.
template <class Visit> void forEachProcStatCpu(std::string_view text, Visit&& visit) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos || !text.starts_with("cpu"))
            return;
        if (const auto times = parseProcStatCpuLine(text.substr(0, end)))
            visit(*times);
        text.remove_prefix(end + 1);
    }
}

// The frequencies (kHz, ascending) a CPU's active time is sorted into: the driver's list of
// available frequencies when it has one of at most maximumBins entries, else from minimum to
// maximum in even steps of whole 100 MHz, at most maximumBins of them. Empty when the limits
// make no sense.
inline constexpr std::size_t maximumBins = 32;
std::vector<std::uint64_t> frequencyBins(std::uint64_t minimum, std::uint64_t maximum,
                                         std::span<const std::uint64_t> available);

// The index of the bin nearest to a frequency; frequencies beyond the ends fall into the end
// bins. bins must not be empty.
std::size_t nearestBin(std::span<const std::uint64_t> bins, std::uint64_t kiloHertz);

// time_in_state counts idle time at whatever frequency the CPU waited. Active time per
// frequency is that time less the CPU's idle time, taken from the lowest frequencies first,
// where governors park idle CPUs: exact when the CPU idles at its lowest frequency.
void removeIdle(std::span<std::uint64_t> atFrequency, std::uint64_t idle);

} // namespace brivane::platform::linux_backend
