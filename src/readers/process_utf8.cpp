#include "readers/process_utf8.h"

#include <cstdint>

namespace brivane {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed sequence at bytes[at], or, when ill-formed, the negated length of
// its maximal prefix that could still start a well-formed sequence (at least 1).
int sequenceLength(std::string_view bytes, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
    uint8_t lead = byte(at);
    if (lead < 0x80)
        return 1;
    int length = 0;
    uint8_t low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return -1;
    }
    for (int i = 1; i < length; ++i) {
        std::size_t index = at + static_cast<std::size_t>(i);
        if (index >= bytes.size())
            return -i;
        uint8_t next = byte(index);
        uint8_t min = i == 1 ? low : 0x80;
        uint8_t max = i == 1 ? high : 0xBF;
        if (next < min || next > max)
            return -i;
    }
    return length;
}

} // namespace

std::string decodeUTF8Replacing(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        // Copy runs of ASCII without per-byte decoding.
        std::size_t ascii = at;
        while (ascii < bytes.size() && static_cast<uint8_t>(bytes[ascii]) < 0x80)
            ++ascii;
        text.append(bytes.substr(at, ascii - at));
        at = ascii;
        if (at >= bytes.size())
            break;
        int length = sequenceLength(bytes, at);
        if (length > 0) {
            text.append(bytes.substr(at, static_cast<std::size_t>(length)));
            at += static_cast<std::size_t>(length);
        } else {
            text.append(replacementCharacter);
            at += static_cast<std::size_t>(-length);
        }
    }
    return text;
}

} // namespace brivane
