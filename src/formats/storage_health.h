#pragma once

// The storage health document. Encoding and decoding live in formats/document_codec.h.

#include <cstdint>
#include <optional>
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
