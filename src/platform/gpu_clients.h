#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brivane::platform {

// One process's use of one graphics card at one look. Busy figures come in one of three forms,
// as drivers count them; a rate needs two looks of the first two.
struct GpuClientUse {
    int32_t pid = 0;
    std::string card;       // "card1"; empty when the card is not known by a name
    std::string pciAddress; // empty for a card that is no PCI device
    // Cumulative busy time per engine class, in nanoseconds, already divided by the class's
    // number of engines.
    std::map<std::string, double> busyNanoseconds;
    // Drivers that count cycles: per engine class, cumulative busy and total cycles.
    std::map<std::string, std::pair<uint64_t, uint64_t>> cycles;
    // Shares (0–1) the driver measured itself over its own recent period.
    std::map<std::string, double> busyShare;
    // Memory the process holds on the card, in bytes, when the driver tells.
    std::optional<uint64_t> memoryBytes;

    bool operator==(const GpuClientUse&) const = default;
};

// The graphics cards' clients: the caller's own processes (others' descriptors cannot be read
// without privileges) and what a card's own library reports. Never throws; a failure leaves
// out what it concerns.
class GpuClientTable {
public:
    virtual ~GpuClientTable() = default;
    // Each process's use of each card now, one entry per process and card.
    virtual std::vector<GpuClientUse> look() const = 0;
};

// The platform's table; defined by the back end the executable links.
std::shared_ptr<const GpuClientTable> makeDefaultGpuClientTable();

} // namespace brivane::platform
