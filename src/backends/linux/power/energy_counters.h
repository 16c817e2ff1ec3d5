#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace brivane::platform::linux_backend {

// A powercap zone directory of the RAPL driver: "intel-rapl:<package>" or
// "intel-rapl:<package>:<subzone>", numbers in hexadecimal ("intel-rapl:a"). Other control
// types (the MMIO interface repeats the package zone under "intel-rapl-mmio:0") are nothing,
// so no zone is counted twice.
struct PowercapZoneID {
    unsigned package = 0;
    std::optional<unsigned> subzone;
};
std::optional<PowercapZoneID> parsePowercapZoneDirectory(std::string_view name);

// What a zone's `name` file says it measures.
enum class PowercapDomain { package, core, uncore, dram, platform, other };
PowercapDomain powercapDomain(std::string_view nameFile);

// How far a cumulative counter advanced from `older` to `newer`. A counter that wraps at
// `range` (max_energy_range_uj; 0 when unknown) and came back below `older` wrapped once;
// without a known range a counter that went back was reset, and nothing is known of the
// interval, so it advanced by 0.
std::uint64_t counterAdvance(std::uint64_t older, std::uint64_t newer, std::uint64_t range);

} // namespace brivane::platform::linux_backend
