#pragma once

#include "backends/linux/gpu/card_activity.h"
#include "backends/linux/gpu/nvml_library.h"
#include "backends/linux/polling/sensor_channels.h"
#include "backends/posix/kernel_files/sysfs_reading.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// One GT's busy share from its idle-residency counter (ms): 1 − Δidle / Δt, clamped to 0–1.
// Nothing when no time passed or the counter went back.
std::optional<double> busyFromIdle(std::uint64_t idleBefore, std::uint64_t idleAfter,
                                   double elapsedMilliseconds);

// One card's utilisation as a snapshot sees it.
struct CardUtilization {
    std::string driver;
    std::optional<double> percent; // absent until the card has given one
};

// The NVIDIA management library, loaded once, when a card is first read awake.
class NvmlLoader {
public:
    explicit NvmlLoader(std::string name = "libnvidia-ml.so.1") : name_(std::move(name)) {}
    std::optional<double> utilizationPercent(const std::string& pciAddress);

private:
    std::mutex mutex_;
    std::string name_;
    bool tried_ = false;
    std::unique_ptr<NvmlLibrary> library_;
};

// The machine's graphics cards (class/drm/cardN) and how busy each is:
// - amdgpu (and any driver with it): device/gpu_busy_percent;
// - i915: the idle residency of its GTs (gt/gt*/rc6_residency_ms, older kernels
//   power/rc6_residency_ms); xe: device/tile*/gt*/gtidle/idle_residency_ms; the busiest GT over
//   the time since the previous look (a render GT at 95 % is not hidden by an idle media GT),
//   so the first look gives nothing;
// - nvidia: the NVML library, when it can be loaded, asked by the card's PCI address.
// A card whose device/power/runtime_status is "suspended" sleeps: it is idle (0 %) and none of
// its files is read, since reading wakes some drivers' cards.
// Each card is one probe of a channel set, read by a poller's lanes (NVIDIA's on the slow one,
// as a library call may hang), so a look at the cards reads nothing.
class DrmCards {
public:
    // Finds the cards under the set's root and adds their probes, which give the busy share in
    // thousandths of a percent and tell `activity` (when given) each figure they read.
    static DrmCards discover(ChannelSet& channels, const std::shared_ptr<NvmlLoader>& nvml,
                             const std::shared_ptr<CardActivity>& activity = nullptr);
    // Each card as last read, busiest first (cards without a figure last, in card order).
    std::vector<CardUtilization> read(const ChannelSet& channels) const;

private:
    struct Card {
        std::string driver;
        std::size_t channel = 0;
    };
    std::vector<Card> cards_;
};

} // namespace brivane::platform::linux_backend
