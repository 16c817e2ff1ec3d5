#pragma once

#include "platform/gpu_clients.h"
#include "platform/process_table.h"
#include "platform/uptime_clock.h"

#include <memory>

namespace brivane::platform::sim {

// The simulated laptop's integrated graphics and its clients: the host's first few processes
// other than the agent (so that listed pids exist), each with a steady render and video load
// and some memory, so that a ranking has something plausible to show.
class SimGpuClients final : public GpuClientTable {
public:
    SimGpuClients(std::shared_ptr<const ProcessTable> table,
                  std::shared_ptr<const UptimeClock> clock);
    std::vector<GpuClientUse> look() const override;

private:
    std::shared_ptr<const ProcessTable> table_;
    std::shared_ptr<const UptimeClock> clock_;
};

} // namespace brivane::platform::sim
