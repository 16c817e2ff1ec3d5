#include "plist_text.h"

#include <utility>

namespace brivane::system_tools {
namespace {

constexpr std::string_view documentHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                          "<plist version=\"1.0\">\n<dict>\n";
constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of bytes, with its code point, or 0.
std::size_t decodeOne(std::string_view bytes, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < minimum || codePoint > 0x10FFFF || surrogate ? 0 : length;
}

// The characters XML 1.0 allows in a document.
bool xmlAllows(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
}

} // namespace

std::string xmlCharacterData(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        char32_t c = 0;
        const std::size_t length = decodeOne(bytes, c);
        if (length == 0 || !xmlAllows(c)) {
            out += replacement;
            bytes.remove_prefix(length == 0 ? 1 : length);
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out.append(bytes.substr(0, length));
        }
        bytes.remove_prefix(length);
    }
    return out;
}

PlistText::PlistText() : text_(documentHead) {}

void PlistText::indent() {
    text_.append(static_cast<std::size_t>(depth_), '\t');
}

void PlistText::key(std::string_view name) {
    indent();
    text_ += "<key>";
    text_ += xmlCharacterData(name);
    text_ += "</key>\n";
    indent();
}

void PlistText::text(std::string_view name, std::string_view value) {
    key(name);
    text_ += "<string>";
    text_ += xmlCharacterData(value);
    text_ += "</string>\n";
}

void PlistText::integer(std::string_view name, std::int64_t value) {
    key(name);
    text_ += "<integer>" + std::to_string(value) + "</integer>\n";
}

void PlistText::unsignedInteger(std::string_view name, std::uint64_t value) {
    key(name);
    text_ += "<integer>" + std::to_string(value) + "</integer>\n";
}

void PlistText::boolean(std::string_view name, bool value) {
    key(name);
    text_ += value ? "<true/>\n" : "<false/>\n";
}

void PlistText::openDictionary(std::string_view name) {
    key(name);
    text_ += "<dict>\n";
    ++depth_;
}

void PlistText::closeDictionary() {
    if (depth_ > 1) {
        --depth_;
        indent();
        text_ += "</dict>\n";
    }
}

std::string PlistText::finish() && {
    while (depth_ > 1) {
        closeDictionary();
    }
    text_ += "</dict>\n</plist>\n";
    return std::move(text_);
}

} // namespace brivane::system_tools
