#include "request_head.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace brivane::cli {
namespace {

constexpr std::size_t mostHeaderLines = 100;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The path with its escapes decoded; nothing for a broken escape or a NUL, which a decoder that
// ends the path there would serve as a shorter one ("/metrics%00x" as "/metrics").
std::optional<std::string> decodedPath(std::string_view target) {
    target = target.substr(0, target.find('?'));
    std::string path;
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (target[i] != '%') {
            path += target[i];
            continue;
        }
        const int high = i + 2 < target.size() ? hexValue(target[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(target[i + 2]) : -1;
        if (low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return path;
}

// "GET /metrics HTTP/1.1": the method, the path and the version.
HeadVerdict readRequestLine(std::string_view line, RequestHead& head) {
    const auto first = line.find(' ');
    const auto second = line.find(' ', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos ||
        line.find(' ', second + 1) != std::string_view::npos) {
        return HeadVerdict::malformed;
    }
    const auto method = line.substr(0, first);
    const auto target = line.substr(first + 1, second - first - 1);
    const auto version = line.substr(second + 1);
    if (!isToken(method) || target.empty() || target.front() != '/' ||
        std::any_of(target.begin(), target.end(), [](char c) { return c <= ' ' || c == 127; })) {
        return HeadVerdict::malformed;
    }
    if (version.size() != 8 || !version.starts_with("HTTP/") || !isDigit(version[5]) ||
        version[6] != '.' || !isDigit(version[7])) {
        return HeadVerdict::malformed;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return HeadVerdict::wrongVersion;
    }
    auto path = decodedPath(target);
    if (!path) {
        return HeadVerdict::malformed;
    }
    head.method = method;
    head.path = std::move(*path);
    head.http10 = version == "HTTP/1.0";
    return HeadVerdict::complete;
}

// What the header fields that matter say; counts are kept across lines.
struct FieldCounts {
    int contentLengths = 0;
    int transferEncodings = 0;
    bool closeAsked = false;
    bool keepAliveAsked = false;
};

bool readField(std::string_view line, RequestHead& head, FieldCounts& counts) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) {
        return false; // also a folded line, which starts with a blank
    }
    const auto name = line.substr(0, colon);
    const auto value = trimmed(line.substr(colon + 1));
    if (std::any_of(value.begin(), value.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return (byte < ' ' && c != '\t') || byte == 127;
        })) {
        return false;
    }
    if (equalsIgnoringCase(name, "Content-Length")) {
        if (value.empty() || !std::all_of(value.begin(), value.end(), isDigit)) {
            return false;
        }
        ++counts.contentLengths;
        head.announcesBody = head.announcesBody || value.find_first_not_of('0') != value.npos;
    } else if (equalsIgnoringCase(name, "Transfer-Encoding")) {
        ++counts.transferEncodings;
        head.announcesBody = true;
    } else if (equalsIgnoringCase(name, "Authorization")) {
        if (head.authorization) {
            return false; // which of two would a proxy in front have checked?
        }
        head.authorization = std::string(value);
    } else if (equalsIgnoringCase(name, "Connection")) {
        for (std::string_view rest = value; !rest.empty();) {
            const auto comma = rest.find(',');
            const auto option = trimmed(rest.substr(0, comma));
            counts.closeAsked = counts.closeAsked || equalsIgnoringCase(option, "close");
            counts.keepAliveAsked =
                counts.keepAliveAsked || equalsIgnoringCase(option, "keep-alive");
            rest = comma == std::string_view::npos ? "" : rest.substr(comma + 1);
        }
    }
    return true;
}

} // namespace

ParsedHead parseRequestHead(std::string_view bytes, std::size_t limit) {
    ParsedHead parsed;
    // Empty lines before a request are tolerated, as after a client's earlier body.
    std::size_t start = 0;
    while (bytes.substr(start, 2) == "\r\n") {
        start += 2;
    }
    const auto end = bytes.find("\r\n\r\n", start);
    if (end == std::string_view::npos || end + 4 > limit) {
        parsed.verdict = bytes.size() >= limit ? HeadVerdict::tooLarge : HeadVerdict::incomplete;
        return parsed;
    }
    parsed.length = end + 4;
    const auto head = bytes.substr(start, end + 2 - start);
    FieldCounts counts;
    std::size_t lines = 0;
    for (std::size_t at = 0; at < head.size(); ++lines) {
        const auto lineEnd = head.find("\r\n", at);
        const auto line = head.substr(at, lineEnd - at);
        at = lineEnd + 2;
        // A lone CR or LF is read as a line break by some and not by others.
        if (line.find_first_of("\r\n") != std::string_view::npos) {
            parsed.verdict = HeadVerdict::malformed;
            return parsed;
        }
        if (lines == 0) {
            parsed.verdict = readRequestLine(line, parsed.head);
            if (parsed.verdict != HeadVerdict::complete) {
                return parsed;
            }
        } else if (lines > mostHeaderLines) {
            parsed.verdict = HeadVerdict::tooLarge;
            return parsed;
        } else if (!readField(line, parsed.head, counts)) {
            parsed.verdict = HeadVerdict::malformed;
            return parsed;
        }
    }
    // A length told twice, or both ways, may be read otherwise by a proxy in front, which would
    // then take what follows for a request of its own.
    if (counts.contentLengths > 1 || (counts.contentLengths == 1 && counts.transferEncodings > 0)) {
        parsed.verdict = HeadVerdict::malformed;
        return parsed;
    }
    parsed.head.keepAlive = !counts.closeAsked && (!parsed.head.http10 || counts.keepAliveAsked);
    parsed.verdict = HeadVerdict::complete;
    return parsed;
}

} // namespace brivane::cli
