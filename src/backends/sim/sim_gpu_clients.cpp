#include "backends/sim/sim_gpu_clients.h"

#include <algorithm>

namespace brivane::platform::sim {

namespace {
constexpr std::size_t clients = 3;
} // namespace

SimGpuClients::SimGpuClients(std::shared_ptr<const ProcessTable> table,
                             std::shared_ptr<const UptimeClock> clock)
    : table_(std::move(table)), clock_(std::move(clock)) {}

std::vector<GpuClientUse> SimGpuClients::look() const {
    std::vector<int32_t> pids = table_->allPids();
    std::sort(pids.begin(), pids.end());
    std::erase_if(pids, [&](int32_t pid) { return pid < 1 || pid == table_->ownPid(); });
    pids.resize(std::min(pids.size(), clients));
    const double seconds = clock_->uptime();
    std::vector<GpuClientUse> uses;
    for (std::size_t i = 0; i < pids.size(); ++i) {
        // 30 %, 15 %, 7.5 % of the render engines; a fifth of that on video.
        const double share = 0.3 / static_cast<double>(1u << i);
        GpuClientUse use;
        use.pid = pids[i];
        use.card = "card0";
        use.pciAddress = "0000:00:02.0";
        use.busyNanoseconds = {{"render", seconds * share * 1e9},
                               {"video", seconds * share / 5 * 1e9}};
        use.memoryBytes = (64u << 20) >> i;
        uses.push_back(std::move(use));
    }
    return uses;
}

} // namespace brivane::platform::sim
