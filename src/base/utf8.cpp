#include "base/utf8.h"

namespace brivane::base::utf8 {

Sequence decode(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return {lead, 1, true};
    std::size_t length = 0;
    char32_t codePoint = 0;
    // The second byte's range excludes overlongs (E0, F0), surrogates (ED) and points beyond
    // U+10FFFF (F4); C0, C1 and F5..FF never lead.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {0, 1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= bytes.size() || byte(at + i) < low || byte(at + i) > high)
            return {0, i, false};
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
        low = 0x80, high = 0xBF;
    }
    return {codePoint, length, true};
}

bool isValid(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const Sequence sequence = decode(bytes, at);
        if (!sequence.valid)
            return false;
        at += sequence.length;
    }
    return true;
}

std::string replacingInvalid(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        // Copy runs of ASCII without decoding them.
        std::size_t ascii = at;
        while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80)
            ++ascii;
        text.append(bytes.substr(at, ascii - at));
        at = ascii;
        if (at == bytes.size())
            break;
        const Sequence sequence = decode(bytes, at);
        if (sequence.valid)
            text.append(bytes.substr(at, sequence.length));
        else
            text.append(replacementCharacter);
        at += sequence.length;
    }
    return text;
}

std::string_view truncated(std::string_view bytes, std::size_t maxBytes) {
    if (bytes.size() <= maxBytes)
        return bytes;
    // A sequence is at most four bytes: step back over at most three continuation bytes.
    std::size_t cut = maxBytes;
    for (int step = 0;
         step < 3 && cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80; ++step)
        --cut;
    return bytes.substr(0, cut);
}

} // namespace brivane::base::utf8
