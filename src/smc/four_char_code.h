#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brivane {

// Key and type names of the SMC: four characters, the first in the most significant byte.
// Callers check for exactly four ASCII characters first; longer input keeps its last four
// bytes, shorter input fills from the low end.
constexpr std::uint32_t fourCharCode(std::string_view name) {
    std::uint32_t code = 0;
    for (const char c : name) {
        code = (code << 8) | static_cast<std::uint8_t>(c);
    }
    return code;
}

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
