#pragma once

// The CPU details document. Every field but the optional ones is always written and required
// when read; an optional one is left out where the machine does not tell. Encoding and decoding
// live in formats/document_codec.h.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
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

    // Beyond the original document: per cluster kind, its CPUs' idle states (C-states) in the
    // order the idle driver lists them, each with the time the kind's online CPUs spent in it
    // since they came up, summed.
    struct IdleState {
        std::string name{}; // "POLL", "C1", "C1E", "C6", "WFI", ...
        double seconds = 0;

        bool operator==(const IdleState&) const = default;
    };
    std::optional<std::map<std::string, std::vector<IdleState>, std::less<>>> idleStates{};
    // Thermal throttling since boot, where the processor counts it: per cluster kind summed over
    // its cores, and per physical package ("0", "1").
    struct ThrottleCount {
        std::int64_t events = 0;
        std::optional<double> seconds{}; // time throttled, where the kernel counts it

        bool operator==(const ThrottleCount&) const = default;
    };
    struct Throttling {
        std::map<std::string, ThrottleCount, std::less<>> cores{};
        std::map<std::string, ThrottleCount, std::less<>> packages{};

        bool operator==(const Throttling&) const = default;
    };
    std::optional<Throttling> throttling{};

    bool operator==(const CPUDetailsSnapshot&) const = default;
};

} // namespace brivane
