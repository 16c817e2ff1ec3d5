#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::platform::linux_backend {

// What one DRM file descriptor's /proc/<pid>/fdinfo/<fd> says of its client's use of a card.
struct DrmClientUsage {
    std::string driver;                    // drm-driver
    std::optional<std::string> pciAddress; // drm-pdev
    std::optional<std::uint64_t> clientId; // drm-client-id: dup'ed descriptors share it
    // Busy time per engine, in nanoseconds, divided by the engine's capacity (the engines of
    // that kind), so that a share of it is a share of the whole engine class.
    std::map<std::string, double> engineNanoseconds;
    // drivers counting cycles instead: per engine, busy and total cycles
    std::map<std::string, std::uint64_t> cycles, totalCycles;
    std::optional<std::uint64_t> totalBytes;    // drm-total-* over every region
    std::optional<std::uint64_t> residentBytes; // drm-resident-*, else the older drm-memory-*
};

// At most this many engines and regions a client may name; more is nothing.
inline constexpr std::size_t maximumDrmKeys = 64;

// The fields of a fdinfo text; nothing when it names no DRM driver (not a DRM descriptor) or
// a field of the usage stats is malformed. Other fields (pos, flags, mnt_id) are passed over.
std::optional<DrmClientUsage> parseDrmFdinfo(std::string_view text);

} // namespace brivane::platform::linux_backend
