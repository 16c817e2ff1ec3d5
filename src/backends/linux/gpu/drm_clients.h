#pragma once

#include "backends/linux/gpu/nvml_session.h"
#include "platform/gpu_clients.h"

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace brivane::platform::linux_backend {

// The graphics cards' clients:
// - from DRM fdinfo: each process's descriptors that are DRM devices (/dev/dri/...), their
//   /proc/<pid>/fdinfo/<fd> usage stats summed per card. A client id counts once per card,
//   for the first process (by pid) found holding it: dup'ed and inherited descriptors share
//   it. Memory is what is resident, else the total. Only the processes `owner` owns are
//   looked at (all of them for root), since others' descriptors are closed to the caller;
//   a process may vanish at any step and is then passed over;
// - from the NVIDIA library, whose driver writes no usage stats: the per-process figures it
//   read with the card's own figures while the card was awake and a client watched
//   (nvml_session.h), never a call of its own.
// Cards are named by the links under class/drm: no file of a card is read, so a sleeping card
// sleeps on, while its clients' fdinfo (the processes', not the card's) is read as usual.
class DrmClients final : public GpuClientTable {
public:
    static constexpr std::size_t maximumDescriptors = 4096; // looked at per process

    DrmClients(std::string procRoot, std::string sysRoot, std::optional<uid_t> owner,
               std::shared_ptr<NvmlSession> nvml);
    std::vector<GpuClientUse> look() const override;

private:
    std::string proc_, sys_;
    std::optional<uid_t> owner_;
    std::shared_ptr<NvmlSession> nvml_;
};

} // namespace brivane::platform::linux_backend
