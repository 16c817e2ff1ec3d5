#include "terminal_text.h"

#include "base/utf8.h"

#include <cstdio>

namespace brivane::cli {
namespace {

bool isBidirectionalControl(char32_t point) {
    return (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// The next unit of text at `at` that a terminal must not see as it is: its length, and its code
// point unless it is ill-formed UTF-8. Printable units are stepped over.
struct Unit {
    std::size_t at, length;
    std::optional<char32_t> point;
};

std::optional<Unit> nextUnsafe(std::string_view text, std::size_t& at) {
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x20 && byte < 0x7F) {
            ++at;
            continue;
        }
        if (byte < 0x80) {
            return Unit{at, 1, byte};
        }
        const auto sequence = base::utf8::decode(text, at);
        if (!sequence.valid) {
            return Unit{at, sequence.length, std::nullopt};
        }
        if (sequence.codePoint <= 0x9F || isBidirectionalControl(sequence.codePoint)) {
            return Unit{at, sequence.length, sequence.codePoint};
        }
        at += sequence.length;
    }
    return std::nullopt;
}

void appendHex(std::string& out, std::string_view prefix, unsigned value, int digits) {
    constexpr std::string_view hex = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out += hex[(value >> shift) & 0xF];
    }
}

// The text with each unsafe unit replaced by what `escape` appends for it; false when `escape`
// refuses one.
template <class Escape> bool rewrite(std::string_view text, std::string& out, Escape escape) {
    std::size_t copied = 0;
    std::size_t at = 0;
    while (const auto unit = nextUnsafe(text, at)) {
        if (out.empty()) {
            out.reserve(text.size() + 16);
        }
        out.append(text.substr(copied, unit->at - copied));
        if (!escape(out, *unit, text)) {
            return false;
        }
        at = copied = unit->at + unit->length;
    }
    if (copied == 0) {
        out.assign(text);
    } else {
        out.append(text.substr(copied));
    }
    return true;
}

} // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    rewrite(text, out, [](std::string& to, const Unit& unit, std::string_view from) {
        if (!unit.point) {
            for (std::size_t i = 0; i < unit.length; ++i) {
                appendHex(to, "\\x", static_cast<unsigned char>(from[unit.at + i]), 2);
            }
        } else if (*unit.point < 0x80) {
            appendHex(to, "\\x", *unit.point, 2);
        } else {
            appendHex(to, "\\u", *unit.point, 4);
        }
        return true;
    });
    return out;
}

std::optional<std::string> terminalSafeJson(std::string_view document) {
    std::string out;
    const bool json = rewrite(document, out, [](std::string& to, const Unit& unit, auto) {
        const bool blank =
            unit.point && (*unit.point == '\t' || *unit.point == '\n' || *unit.point == '\r');
        if (blank) {
            to += static_cast<char>(*unit.point);
        } else if (unit.point && *unit.point >= 0x7F) {
            appendHex(to, "\\u", *unit.point, 4);
        }
        return blank || (unit.point && *unit.point >= 0x7F);
    });
    return json ? std::optional(std::move(out)) : std::nullopt;
}

void printProblem(std::string_view line) {
    const std::string text = "brivane-sensors: " + terminalSafe(line) + "\n";
    (void)std::fwrite(text.data(), 1, text.size(), stderr); // nowhere left to tell of a failure
}

} // namespace brivane::cli
