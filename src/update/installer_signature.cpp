#include "update/installer_signature.h"

#include <cstdint>
#include <string>

namespace brivane {
namespace {

constexpr std::string_view whitespace = " \t\r\v\f";

std::string_view trimmed(std::string_view line) {
    const auto first = line.find_first_not_of(whitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = line.find_last_not_of(whitespace);
    return line.substr(first, last - first + 1);
}

bool qualifies(std::string_view line, std::string_view team) {
    constexpr std::string_view prefix = "1. Developer ID Installer:";
    const std::size_t suffixSize = team.size() + 2;
    return trimmed(line).starts_with(prefix) && line.size() >= suffixSize &&
           line[line.size() - suffixSize] == '(' && line.back() == ')' &&
           line.substr(line.size() - suffixSize + 1, team.size()) == team;
}

} // namespace

bool hasInstallerCertificateLine(std::string_view output, std::string_view team) {
    std::size_t start = 0;
    while (start <= output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string_view::npos) {
            end = output.size();
        }
        const std::string_view line = output.substr(start, end - start);
        if (!line.empty() && qualifies(line, team)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool isValidUTF8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 2 && codePoint < 0x80) ||
                              (length == 3 && codePoint < 0x800) ||
                              (length == 4 && codePoint < 0x10000);
        if (overlong || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

} // namespace brivane
