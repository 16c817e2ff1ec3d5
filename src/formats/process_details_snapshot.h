#pragma once

// The process details document and the ranking kinds a client may ask for.
//
// Enumerations with string raw values convert the same way throughout src/formats:
// `std::optional<Enum> enumName(std::string_view raw)` matches raw values exactly
// (case-sensitive, no trimming) and `std::string_view rawValue(Enum)` gives the raw value back.

#include "formats/cpu_details_snapshot.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane {

enum class ProcessDetailsKind { memory, storage, energy, gpu };

std::optional<ProcessDetailsKind> processDetailsKind(std::string_view raw);
std::string_view rawValue(ProcessDetailsKind kind);

struct ProcessDetailsSnapshot {
    // One process's storage traffic over the measuring interval, fractions dropped.
    struct StorageReading {
        std::int64_t pid = 0;
        std::string name{};
        std::int64_t readBytesPerSecond = 0;
        std::int64_t writeBytesPerSecond = 0;

        bool operator==(const StorageReading&) const = default;
    };

    // One process's use of the graphics cards over the measuring interval.
    struct GpuReading {
        struct Card {
            std::string card{};       // "card1"; empty when unknown
            std::string pciAddress{}; // empty for a card that is no PCI device
            // Busy share per engine class ("render", "video", "copy", "gfx", ...), 0–100.
            std::map<std::string, double, std::less<>> enginePercent{};
            std::optional<std::int64_t> memoryBytes{};

            bool operator==(const Card&) const = default;
        };
        std::int64_t pid = 0;
        std::string name{};
        // Its busiest engine class on any of its cards, 0–100: what it is ranked by.
        double busyPercent = 0;
        // Summed over its cards; absent when no card tells.
        std::optional<std::int64_t> memoryBytes{};
        std::vector<Card> cards{};

        bool operator==(const GpuReading&) const = default;
    };

    // Filled for "memory" and "energy"; empty for "storage".
    std::vector<CPUDetailsSnapshot::ProcessReading> ranked{};
    // Filled for "storage"; empty for the other kinds.
    std::vector<StorageReading> storage{};
    std::uint32_t helperUID = 0;
    std::uint32_t helperEffectiveUID = 0;
    // "storage": the seconds the rates were measured over; absent when nothing was measured.
    std::optional<double> storageInterval{};
    // "gpu" only: the ranking, busiest first, then by memory.
    std::optional<std::vector<GpuReading>> gpu{};
    // "gpu": the seconds the busy shares were measured over; absent when nothing was measured.
    std::optional<double> gpuInterval{};

    bool operator==(const ProcessDetailsSnapshot&) const = default;
};

} // namespace brivane
