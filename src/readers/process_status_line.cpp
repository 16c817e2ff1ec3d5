#include "readers/process_status_line.h"

#include "base/utf8.h"
#include "base/whole_number.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace brivane {

namespace {

bool isWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Length of the whitespace scalar at the front of `text`, or 0 when it starts otherwise.
std::size_t whitespaceLength(std::string_view text) {
    const auto first = static_cast<unsigned char>(text.front());
    if (first < 0x80)
        return (first == 0x20 || (first >= 0x09 && first <= 0x0D)) ? 1 : 0;
    const base::utf8::Sequence sequence = base::utf8::decode(text, 0);
    return sequence.valid && isWhitespace(sequence.codePoint) ? sequence.length : 0;
}

std::size_t skipWhitespace(std::string_view text, std::size_t position) {
    while (position < text.size()) {
        const std::size_t length = whitespaceLength(text.substr(position));
        if (length == 0)
            break;
        position += length;
    }
    return position;
}

std::size_t skipWord(std::string_view text, std::size_t position) {
    while (position < text.size() && whitespaceLength(text.substr(position)) == 0) {
        const auto byte = static_cast<unsigned char>(text[position]);
        position += byte < 0x80 ? 1 : base::utf8::decode(text, position).length;
    }
    return position;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// An optional sign then digits only, at least 1, within 64 bits.
std::optional<std::int64_t> parsePid(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || negative)
        return std::nullopt; // no digits, or a value below 1 (or overflowing the other way)
    for (char c : text)
        if (!isDigit(c))
            return std::nullopt;
    const auto value = base::wholeNumber<std::int64_t>(text);
    if (!value || *value < 1)
        return std::nullopt;
    return value;
}

// A decimal or hexadecimal floating-point number with an optional sign, finite and not
// negative; the whole text must be the number.
std::optional<double> parseUsage(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-')
        return std::nullopt;
    auto format = std::chars_format::general;
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        format = std::chars_format::hex;
        if (text.empty() || text.front() == '+' || text.front() == '-')
            return std::nullopt;
    }
    const auto parsed = base::wholeNumber<double>(text, format);
    if (!parsed)
        return std::nullopt;
    const double value = negative ? -*parsed : *parsed;
    if (!std::isfinite(value) || value < 0.0)
        return std::nullopt;
    return value + 0.0; // folds -0 into 0
}

// Length of the line break at `position`, or 0. Works on raw bytes: C2 and E2 are always lead
// bytes, so these sequences decode as the breaks wherever they appear.
std::size_t lineBreakLength(std::string_view text, std::size_t position) {
    const auto byte = static_cast<unsigned char>(text[position]);
    if (byte >= 0x0A && byte <= 0x0D)
        return 1;
    if (byte == 0xC2 && position + 1 < text.size() &&
        static_cast<unsigned char>(text[position + 1]) == 0x85)
        return 2;
    if (byte == 0xE2 && position + 2 < text.size() &&
        static_cast<unsigned char>(text[position + 1]) == 0x80) {
        const auto last = static_cast<unsigned char>(text[position + 2]);
        if (last == 0xA8 || last == 0xA9)
            return 3;
    }
    return 0;
}

} // namespace

std::optional<CPUDetailsSnapshot::ProcessReading> parseProcessStatusLine(std::string_view line) {
    const std::size_t pidStart = skipWhitespace(line, 0);
    const std::size_t pidEnd = skipWord(line, pidStart);
    if (pidStart == pidEnd)
        return std::nullopt;
    const std::size_t usageStart = skipWhitespace(line, pidEnd);
    const std::size_t usageEnd = skipWord(line, usageStart);
    if (usageStart == usageEnd || usageEnd == line.size())
        return std::nullopt;
    // Only the one blank that ended the usage is a separator; the name keeps the rest.
    const std::size_t nameStart = usageEnd + whitespaceLength(line.substr(usageEnd));
    if (nameStart == line.size())
        return std::nullopt;

    const auto pid = parsePid(line.substr(pidStart, pidEnd - pidStart));
    if (!pid)
        return std::nullopt;
    const auto usage = parseUsage(line.substr(usageStart, usageEnd - usageStart));
    if (!usage)
        return std::nullopt;
    return CPUDetailsSnapshot::ProcessReading{
        *pid, base::utf8::replacingInvalid(line.substr(nameStart)), *usage};
}

std::vector<CPUDetailsSnapshot::ProcessReading> parseProcessStatusOutput(std::string_view output,
                                                                         std::size_t limit) {
    std::vector<CPUDetailsSnapshot::ProcessReading> readings;
    std::size_t lineStart = 0;
    std::size_t position = 0;
    while (readings.size() < limit && lineStart < output.size()) {
        std::size_t breakLength = 0;
        while (position < output.size() && (breakLength = lineBreakLength(output, position)) == 0)
            ++position;
        if (position > lineStart)
            if (auto reading =
                    parseProcessStatusLine(output.substr(lineStart, position - lineStart)))
                readings.push_back(std::move(*reading));
        position += breakLength;
        lineStart = position;
    }
    return readings;
}

} // namespace brivane
