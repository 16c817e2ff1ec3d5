#pragma once

// The storage health document. Encoding and decoding live in formats/document_codec.h.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivane {

// SMART figures of one disk; every field is optional and omitted when absent.
struct StorageHealthReading {
    std::optional<std::int64_t> temperature{};
    std::optional<std::int64_t> life{};
    std::optional<std::int64_t> totalRead{};
    std::optional<std::int64_t> totalWritten{};
    std::optional<std::int64_t> powerCycles{};
    std::optional<std::int64_t> powerOnHours{};
    std::optional<std::int64_t> availableSpare{};
    std::optional<std::int64_t> spareThreshold{};
    std::optional<std::int64_t> unsafeShutdowns{};
    std::optional<std::int64_t> mediaErrors{};
    // NVMe's critical warning bits (spare, temperature, reliability, read-only, backup, ...).
    std::optional<std::int64_t> criticalWarning{};
    // The drive's own verdict: an ATA drive's SMART status, an NVMe drive's warning bits.
    std::optional<bool> smartFailing{};
    // ATA sector counts: reallocated, pending reallocation, uncorrectable offline.
    std::optional<std::int64_t> reallocatedSectors{};
    std::optional<std::int64_t> pendingSectors{};
    std::optional<std::int64_t> uncorrectableSectors{};
    // The drive's own temperature limits in degrees Celsius: above max it is warm beyond its
    // maker's rating, at critical it throttles or stops.
    std::optional<std::int64_t> maxTemperature{};
    std::optional<std::int64_t> criticalTemperature{};
    // When the drive's figures were read, in seconds since 1970: the disk service reads a
    // sleeping disk's figures only once it wakes.
    std::optional<std::int64_t> updated{};
    // The disk: its kernel name ("nvme0n1"), model and serial number.
    std::optional<std::string> device{};
    std::optional<std::string> model{};
    std::optional<std::string> serial{};

    // The SMART figures in the disk utility's description of `device`; absent when the output
    // describes another disk or holds no usable figure.
    static std::optional<StorageHealthReading> parse(std::string_view output,
                                                     std::string_view device);

    bool operator==(const StorageHealthReading&) const = default;
};

struct StorageHealthSnapshot {
    // Absent when the disk could not be read or reported nothing usable.
    std::optional<StorageHealthReading> reading{};
    std::uint32_t helperUID = 0;
    std::uint32_t helperEffectiveUID = 0;

    bool operator==(const StorageHealthSnapshot&) const = default;
};

} // namespace brivane
