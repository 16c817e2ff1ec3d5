#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace brivane {

// Big-endian integers as the SMC stores them.
constexpr std::uint16_t uint16FromBytes(std::array<std::uint8_t, 2> bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

constexpr std::uint32_t uint32FromBytes(std::array<std::uint8_t, 4> bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

// "fpe2": fourteen integer bits; the two fraction bits are dropped.
constexpr int intFromFPE2(std::array<std::uint8_t, 2> bytes) {
    return int{bytes[0]} * 64 + (bytes[1] >> 2);
}

// "flt ": an IEEE-754 single in little-endian order, whatever the host's order.
constexpr float floatFromBytes(std::array<std::uint8_t, 4> bytes) {
    const std::uint32_t bits = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                               std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    return std::bit_cast<float>(bits);
}

constexpr std::array<std::uint8_t, 4> floatBytes(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

} // namespace brivane
