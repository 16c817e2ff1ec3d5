#pragma once

#include "platform/host/sysfs_reading.h"
#include "platform/linux/gpu/nvml_library.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// Busy share from idle-residency counters: 1 − Δidle / (Δt × counters), for `counters` GTs
// whose idle times in ms are summed; clamped to 0–1. Nothing when no time passed.
std::optional<double> busyFromIdle(std::uint64_t idleBefore, std::uint64_t idleAfter,
                                   double elapsedMilliseconds, std::size_t counters);

// One card's utilisation as a snapshot sees it.
struct CardUtilization {
    std::string driver;
    std::optional<double> percent; // absent until the card has given one
};

// The machine's graphics cards (class/drm/cardN) and how busy each is:
// - amdgpu (and any driver with it): device/gpu_busy_percent;
// - i915: the idle residency of its GTs (gt/gt*/rc6_residency_ms, older kernels
//   power/rc6_residency_ms); xe: device/tile*/gt*/gtidle/idle_residency_ms; busy over the time
//   since the previous look, so the first look gives nothing;
// - nvidia: the NVML library, when it can be loaded, asked by the card's PCI address.
// A card whose device/power/runtime_status is "suspended" sleeps: it is idle (0 %) and none of
// its files is read, since reading wakes some drivers' cards. Safe from any thread.
class DrmCards {
public:
    DrmCards(const host::RootedDirectory& sys, std::string nvmlLibrary = "libnvidia-ml.so.1");
    ~DrmCards();

    // Finds the cards; once.
    void discover();
    // Each card now, busiest first (cards without a figure last, in card order).
    std::vector<CardUtilization> read();

private:
    enum class Source { busyPercent, idleResidency, nvml, none };
    struct Card {
        std::string driver;
        std::string pciAddress;
        Source source = Source::none;
        host::KeptValue runtimeStatus;
        std::vector<host::KeptValue> files;
        std::optional<std::uint64_t> lastIdle;
        std::chrono::steady_clock::time_point lastLook;
        std::optional<double> lastPercent;
    };
    std::optional<double> readCard(Card& card);

    const host::RootedDirectory& sys_;
    std::string nvmlLibrary_;
    std::mutex mutex_;
    std::vector<Card> cards_;
    std::unique_ptr<NvmlLibrary> nvml_;
    bool nvmlTried_ = false;
};

} // namespace brivane::platform::linux_backend
