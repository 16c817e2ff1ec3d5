#include "plist_text.h"

#include "base/utf8.h"

#include <utility>

namespace brivane::system_tools {
namespace {

constexpr std::string_view documentHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                          "<plist version=\"1.0\">\n<dict>\n";

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
        const base::utf8::Sequence sequence = base::utf8::decode(bytes, 0);
        const std::size_t length = sequence.length;
        // Unlike JSON output, each byte of an ill-formed sequence gets its own U+FFFD.
        if (!sequence.valid || !xmlAllows(sequence.codePoint)) {
            out += base::utf8::replacementCharacter;
            bytes.remove_prefix(sequence.valid ? length : 1);
            continue;
        }
        switch (sequence.codePoint) {
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
