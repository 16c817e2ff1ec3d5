#pragma once

// fourCharCode itself is defined with the parameter block it names keys of.
#include "platform/smc_key_data.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace brivane {

// The four bytes of a code, most significant first, each byte taken as the code point
// U+0000..U+00FF and written as UTF-8 (so non-ASCII bytes take two bytes each).
std::string fourCharCodeString(std::uint32_t code);

// Appends the character with code point `byte` (U+0000..U+00FF) as UTF-8.
void appendLatin1AsUtf8(std::string& text, std::uint8_t byte);

// Whether `name` is exactly four characters of exactly four UTF-8 bytes.
constexpr bool isFourCharName(std::string_view name) {
    if (name.size() != 4) {
        return false;
    }
    for (const char c : name) {
        if (static_cast<std::uint8_t>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace brivane
