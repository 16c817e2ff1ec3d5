#include "smc/four_char_code.h"

namespace brivane {

void appendLatin1AsUtf8(std::string& text, std::uint8_t byte) {
    if (byte < 0x80) {
        text.push_back(static_cast<char>(byte));
    } else {
        text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
        text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
}

std::string fourCharCodeString(std::uint32_t code) {
    std::string text;
    text.reserve(8);
    for (int shift = 24; shift >= 0; shift -= 8) {
        appendLatin1AsUtf8(text, static_cast<std::uint8_t>(code >> shift));
    }
    return text;
}

} // namespace brivane
