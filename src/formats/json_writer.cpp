#include "formats/json_writer.h"

#include "base/utf8.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>

namespace brivane {
namespace {

// Bytes that cannot be copied as they are: control characters, the three escaped ASCII
// characters and everything outside ASCII (which is checked as UTF-8).
constexpr std::array<bool, 256> needsAttention = [] {
    std::array<bool, 256> table{};
    for (std::size_t byte = 0; byte < table.size(); ++byte) {
        table[byte] = byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\' || byte == '/';
    }
    return table;
}();

// Characters JSON allows raw that a terminal would act on when the document is printed: DEL,
// the C1 controls and the bidirectional embeddings, overrides and isolates.
bool actsOnTerminals(char32_t point) {
    return (point >= 0x7F && point <= 0x9F) || (point >= 0x202A && point <= 0x202E) ||
           (point >= 0x2066 && point <= 0x2069);
}

void appendUnicodeEscape(std::string& out, char32_t point) {
    constexpr std::string_view hex = "0123456789abcdef";
    out.append("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(hex[(point >> shift) & 0xF]);
    }
}

void appendControl(std::string& out, unsigned char byte) {
    switch (byte) {
    case '\b':
        out.append("\\b");
        return;
    case '\f':
        out.append("\\f");
        return;
    case '\n':
        out.append("\\n");
        return;
    case '\r':
        out.append("\\r");
        return;
    case '\t':
        out.append("\\t");
        return;
    default:
        break;
    }
    constexpr std::string_view hex = "0123456789abcdef";
    const char escape[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 0xF]};
    out.append(escape, sizeof escape);
}

} // namespace

void JsonWriter::key(std::string_view name) {
    separate();
    appendEscaped(name);
    out_.push_back(':');
    needsComma_ = false;
}

void JsonWriter::string(std::string_view text) {
    separate();
    appendEscaped(text);
    needsComma_ = true;
}

void JsonWriter::number(double value) {
    if (!std::isfinite(value)) {
        ok_ = false;
        return;
    }
    separate();
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out_.append(digits, result.ptr);
    needsComma_ = true;
}

void JsonWriter::integer(std::int64_t value) {
    separate();
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out_.append(digits, result.ptr);
    needsComma_ = true;
}

void JsonWriter::unsignedInteger(std::uint64_t value) {
    separate();
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out_.append(digits, result.ptr);
    needsComma_ = true;
}

void JsonWriter::boolean(bool value) {
    separate();
    out_.append(value ? "true" : "false");
    needsComma_ = true;
}

void JsonWriter::appendEscaped(std::string_view text) {
    out_.push_back('"');
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t runStart = 0;
    std::size_t index = 0;
    while (index < size) {
        const unsigned char byte = bytes[index];
        if (!needsAttention[byte]) {
            ++index;
            continue;
        }
        if (byte >= 0x7F) {
            const base::utf8::Sequence sequence = base::utf8::decode(text, index);
            if (sequence.valid && !actsOnTerminals(sequence.codePoint)) {
                index += sequence.length;
                continue;
            }
            out_.append(text.data() + runStart, index - runStart);
            if (sequence.valid) {
                appendUnicodeEscape(out_, sequence.codePoint);
            } else {
                out_.append(base::utf8::replacementCharacter);
            }
            index += sequence.length;
            runStart = index;
            continue;
        }
        out_.append(text.data() + runStart, index - runStart);
        if (byte < 0x20) {
            appendControl(out_, byte);
        } else {
            out_.push_back('\\');
            out_.push_back(static_cast<char>(byte));
        }
        ++index;
        runStart = index;
    }
    out_.append(text.data() + runStart, size - runStart);
    out_.push_back('"');
}

} // namespace brivane
