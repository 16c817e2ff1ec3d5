#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace brivane {

// The value holder of one read: the key going in, size, type and up to 32 bytes coming out.
struct SMCVal_t {
    std::string key;
    std::uint32_t dataSize = 0;
    std::string dataType;
    std::array<std::uint8_t, 32> bytes{};

    explicit SMCVal_t(std::string_view key) : key(key) {}
};

} // namespace brivane
