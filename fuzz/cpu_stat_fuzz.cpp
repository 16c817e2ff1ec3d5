// Any bytes as /proc/stat: every CPU line taken has a CPU number and figures that did not wrap;
// bins made from the figures stay ascending, bounded, and a frequency's nearest bin exists.
#include "backends/linux/cpu/cpu_residency.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::platform::linux_backend;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint64_t> figures;
    forEachProcStatCpu(text, [&](const CpuTimes& times) {
        if (times.cpu < 0)
            std::abort();
        figures.push_back(times.active);
        figures.push_back(times.idle);
    });
    if (figures.size() < 2)
        return 0;
    const std::vector<std::uint64_t> available(figures.begin() + 2, figures.end());
    const auto bins = frequencyBins(figures[0], figures[1], available);
    if (bins.size() > std::max<std::size_t>(maximumBins, available.size()) ||
        !std::is_sorted(bins.begin(), bins.end()) ||
        std::adjacent_find(bins.begin(), bins.end()) != bins.end())
        std::abort();
    if (!bins.empty() && nearestBin(bins, figures[0] ^ figures[1]) >= bins.size())
        std::abort();
    std::vector<std::uint64_t> time(bins);
    removeIdle(time, figures[1]);
    for (std::size_t i = 0; i < time.size(); ++i)
        if (time[i] > bins[i])
            std::abort();
    return 0;
}
