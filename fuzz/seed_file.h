// A target's seed corpus as one text file: one input per line, printable ASCII kept, a
// backslash, tab, CR and LF as \\ \t \r \n, every other byte (and a space ending the line, which
// editors strip) as \xHH. An empty line is the empty input. One file per target keeps the
// repository's file count down and the seeds readable in a diff.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brivane::fuzz {

// More inputs than this fail the replay and the packing, so the corpus cannot creep back.
inline constexpr std::size_t kSeedCap = 300;

inline std::string encodeSeed(std::string_view input) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string line;
    line.reserve(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        const auto byte = static_cast<unsigned char>(input[i]);
        const bool last = i + 1 == input.size();
        if (byte == '\\') {
            line += "\\\\";
        } else if (byte == '\n') {
            line += "\\n";
        } else if (byte == '\t') {
            line += "\\t";
        } else if (byte == '\r') {
            line += "\\r";
        } else if ((byte > 0x20 && byte < 0x7f) || (byte == ' ' && !last)) {
            line += static_cast<char>(byte);
        } else {
            line += "\\x";
            line += kHex[byte >> 4];
            line += kHex[byte & 0xf];
        }
    }
    return line;
}

inline std::optional<std::string> decodeSeed(std::string_view line) {
    const auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string input;
    input.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\') {
            input += line[i];
            continue;
        }
        if (++i == line.size())
            return std::nullopt;
        switch (line[i]) {
        case '\\':
            input += '\\';
            break;
        case 'n':
            input += '\n';
            break;
        case 't':
            input += '\t';
            break;
        case 'r':
            input += '\r';
            break;
        case 'x': {
            if (i + 2 >= line.size())
                return std::nullopt;
            const int high = hexValue(line[i + 1]);
            const int low = hexValue(line[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            input += static_cast<char>(high << 4 | low);
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return input;
}

// The inputs of a whole seed file, or nothing if a line is malformed. A CR before the line end
// is dropped (a real CR is always escaped), so a checkout with CRLF endings still replays.
inline std::optional<std::vector<std::string>> decodeSeedFile(std::string_view text) {
    std::vector<std::string> inputs;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        auto input = decodeSeed(line);
        if (!input)
            return std::nullopt;
        inputs.push_back(std::move(*input));
    }
    return inputs;
}

} // namespace brivane::fuzz
