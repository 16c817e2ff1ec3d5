#pragma once

// The process details document and the ranking kinds a client may ask for.
//
// Enumerations with string raw values convert the same way throughout src/formats:
// `std::optional<Enum> enumName(std::string_view raw)` matches raw values exactly
// (case-sensitive, no trimming) and `std::string_view rawValue(Enum)` gives the raw value back.

#include "formats/cpu_details_snapshot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane {

enum class ProcessDetailsKind { memory, storage, energy };

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

    // Filled for "memory" and "energy"; empty for "storage".
    std::vector<CPUDetailsSnapshot::ProcessReading> ranked{};
    // Filled for "storage"; empty for the other kinds.
    std::vector<StorageReading> storage{};
    std::uint32_t helperUID = 0;
    std::uint32_t helperEffectiveUID = 0;
    // "storage": the seconds the rates were measured over; absent when nothing was measured.
    std::optional<double> storageInterval{};

    bool operator==(const ProcessDetailsSnapshot&) const = default;
};

} // namespace brivane
