#pragma once

#include "formats/process_details_snapshot.h"
#include "platform/gpu_clients.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brivane {

// The processes using graphics cards, from two looks `elapsed` seconds apart: per card each
// engine class's busy share (the busy-time counters' moves over the time, or the cycles' over
// the total cycles, or the share the driver measured), its memory now; busiest first, then by
// memory, then by pid; at most `limit`. A counter that went back (a new process under an old
// pid) or a client not seen at the first look gives no share, only its memory; a process whose
// name `nameOf` cannot give is left out.
std::vector<ProcessDetailsSnapshot::GpuReading>
rankGpuClients(const std::vector<platform::GpuClientUse>& before,
               const std::vector<platform::GpuClientUse>& after, double elapsed,
               const std::function<std::optional<std::string>(int32_t)>& nameOf, std::size_t limit);

} // namespace brivane
