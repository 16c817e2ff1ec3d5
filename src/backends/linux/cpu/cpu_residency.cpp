#include "backends/linux/cpu/cpu_residency.h"

#include "backends/posix/kernel_files/proc_fields.h"
#include "base/whole_number.h"

#include <algorithm>
#include <array>
#include <limits>

namespace brivane::platform::linux_backend {

std::optional<CpuTimes> parseProcStatCpuLine(std::string_view line) {
    std::string_view name = posix::nextField(line);
    if (!name.starts_with("cpu") || name.size() == 3)
        return std::nullopt;
    const auto cpu = base::wholeNumber<int>(name.substr(3));
    if (!cpu || *cpu < 0)
        return std::nullopt;
    // user nice system idle iowait irq softirq steal guest guest_nice
    std::array<std::uint64_t, 10> fields{};
    std::size_t count = 0;
    for (std::string_view field = posix::nextField(line); !field.empty();
         field = posix::nextField(line)) {
        const auto value = base::wholeNumber<std::uint64_t>(field);
        if (!value || count == fields.size())
            return std::nullopt;
        fields[count++] = *value;
    }
    if (count < 4)
        return std::nullopt;
    const auto sum =
        [&](std::initializer_list<std::size_t> indices) -> std::optional<std::uint64_t> {
        std::uint64_t total = 0;
        for (std::size_t index : indices) {
            if (fields[index] > std::numeric_limits<std::uint64_t>::max() - total)
                return std::nullopt;
            total += fields[index];
        }
        return total;
    };
    const auto active = sum({0, 1, 2, 5, 6});
    const auto idle = sum({3, 4});
    if (!active || !idle)
        return std::nullopt;
    return CpuTimes{*cpu, *active, *idle};
}

std::vector<std::uint64_t> frequencyBins(std::uint64_t minimum, std::uint64_t maximum,
                                         std::span<const std::uint64_t> available) {
    std::vector<std::uint64_t> bins(available.begin(), available.end());
    std::sort(bins.begin(), bins.end());
    bins.erase(std::unique(bins.begin(), bins.end()), bins.end());
    std::erase(bins, 0);
    if (!bins.empty() && bins.size() <= maximumBins)
        return bins;
    bins.clear();
    constexpr std::uint64_t grain = 100'000; // kHz
    constexpr std::uint64_t highest = 100'000'000;
    if (minimum == 0 || maximum < minimum || maximum > highest)
        return bins;
    const std::uint64_t span = maximum - minimum;
    std::uint64_t step = (span + maximumBins - 2) / (maximumBins - 1);
    step = std::max<std::uint64_t>(grain, (step + grain - 1) / grain * grain);
    for (std::uint64_t frequency = minimum; frequency <= maximum; frequency += step)
        bins.push_back(frequency);
    if (bins.back() != maximum && bins.size() < maximumBins)
        bins.push_back(maximum);
    return bins;
}

std::size_t nearestBin(std::span<const std::uint64_t> bins, std::uint64_t kiloHertz) {
    const auto above = std::lower_bound(bins.begin(), bins.end(), kiloHertz);
    if (above == bins.begin())
        return 0;
    if (above == bins.end())
        return bins.size() - 1;
    const auto below = above - 1;
    const auto index = static_cast<std::size_t>(above - bins.begin());
    return kiloHertz - *below <= *above - kiloHertz ? index - 1 : index;
}

void removeIdle(std::span<std::uint64_t> atFrequency, std::uint64_t idle) {
    for (std::uint64_t& time : atFrequency) {
        const std::uint64_t taken = std::min(time, idle);
        time -= taken;
        idle -= taken;
    }
}

} // namespace brivane::platform::linux_backend
