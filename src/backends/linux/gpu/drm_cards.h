#pragma once

#include "backends/linux/gpu/card_activity.h"
#include "backends/linux/gpu/nvml_session.h"
#include "backends/linux/polling/sensor_channels.h"
#include "backends/posix/kernel_files/sysfs_reading.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// One GT's busy share from its idle-residency counter (ms): 1 − Δidle / Δt, clamped to 0–1.
// Nothing when no time passed or the counter went back.
std::optional<double> busyFromIdle(std::uint64_t idleBefore, std::uint64_t idleAfter,
                                   double elapsedMilliseconds);

// One card as a snapshot sees it; a figure is absent until the card has given it, and every
// figure but the busy share while the card sleeps.
struct CardReading {
    std::string card;       // "card1"
    std::string pciAddress; // empty for a card that is no PCI device
    std::string driver;
    std::optional<double> percent;                       // busy share; 0 while asleep
    bool asleep = false;                                 // runtime-suspended
    std::optional<std::int64_t> memoryUsed, memoryTotal; // bytes
    std::optional<double> watts, celsius;
};

// The machine's graphics cards (class/drm/cardN) and what each tells:
// - how busy: amdgpu (and any driver with it): device/gpu_busy_percent; i915: the idle residency
//   of its GTs (gt/gt*/rc6_residency_ms, older kernels power/rc6_residency_ms); xe:
//   device/tile*/gt*/gtidle/idle_residency_ms; the busiest GT over the time since the previous
//   look (a render GT at 95 % is not hidden by an idle media GT), so the first look gives
//   nothing; nvidia: the NVML library, asked by the card's PCI address;
// - its memory: amdgpu's device/mem_info_vram_used and _total, NVML's;
// - its own power and temperature: the first power*_average (else _input) and temp*_input of
//   the card's hwmon chip, NVML's.
// A card is listed when it can tell how busy it is or has a hwmon chip of its own. One whose
// device/power/runtime_status is "suspended" sleeps: it is idle (0 %) and nothing of it but
// that status is read, since reading wakes some drivers' cards.
// Each figure is a channel (or a probe) of a channel set, read by a poller's lanes (NVIDIA's on
// the slow one, as a library call may hang), so a look at the cards reads nothing.
class DrmCards {
public:
    // Finds the cards under the set's root and adds their channels; the busy-share probes tell
    // `activity` (when given) each figure they read.
    static DrmCards discover(ChannelSet& channels, const std::shared_ptr<NvmlSession>& nvml,
                             const std::shared_ptr<CardActivity>& activity = nullptr);
    // Each card as last read, busiest first (cards without a figure last, in card order).
    std::vector<CardReading> read(const ChannelSet& channels) const;

private:
    struct Card;
    std::vector<std::shared_ptr<const Card>> cards_;
};

} // namespace brivane::platform::linux_backend
