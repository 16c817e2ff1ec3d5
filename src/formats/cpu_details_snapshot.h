#pragma once

// The CPU details document. Every field is always written and required when read. Encoding and
// decoding live in formats/document_codec.h.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace brivane {

struct CPUDetailsSnapshot {
    // One process; the unit of usage depends on the document that carries it (CPU percent,
    // footprint bytes or the process monitor's power figure).
    struct ProcessReading {
        std::int64_t pid = 0;
        std::string name{};
        double usage = 0;

        bool operator==(const ProcessReading&) const = default;
    };

    std::vector<ProcessReading> processes{};
    // Cluster kind ("ECPU", "MCPU", "PCPU") to residency per active performance state. An
    // ordered map keeps the encoded key order stable from one answer to the next.
    std::map<std::string, std::vector<double>, std::less<>> residencies{};
    std::uint32_t helperUID = 0;
    std::uint32_t helperEffectiveUID = 0;

    bool operator==(const CPUDetailsSnapshot&) const = default;
};

} // namespace brivane
