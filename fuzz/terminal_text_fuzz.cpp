// Any bytes as text to print: what terminalSafe gives is well-formed UTF-8 without a control
// character or a bidirectional override, and what terminalSafeJson gives has none either but
// the blanks between JSON tokens.
#include "base/utf8.h"
#include "sensors-cli/terminal_text.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool printable(std::string_view text, bool blanks) {
    for (std::size_t at = 0; at < text.size();) {
        const auto unit = brivane::base::utf8::decode(text, at);
        const char32_t point = unit.codePoint;
        const bool blank = point == '\t' || point == '\n' || point == '\r';
        if (!unit.valid || (point < 0x20 && !(blanks && blank)) ||
            (point >= 0x7F && point <= 0x9F) || (point >= 0x202A && point <= 0x202E) ||
            (point >= 0x2066 && point <= 0x2069))
            return false;
        at += unit.length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!printable(brivane::cli::terminalSafe(bytes), false))
        std::abort();
    const auto json = brivane::cli::terminalSafeJson(bytes);
    if (json && !printable(*json, true))
        std::abort();
    return 0;
}
