#include "backends/linux/os_release.h"

#include <array>
#include <fstream>
#include <sstream>
#include <string>

namespace brivane::platform::linux_backend {
namespace {

std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

} // namespace

OperatingSystemVersion parseOSReleaseVersion(std::string_view osRelease) {
    constexpr std::string_view key = "VERSION_ID=";
    std::string_view value;
    std::size_t start = 0;
    while (start < osRelease.size()) {
        std::size_t end = osRelease.find('\n', start);
        if (end == std::string_view::npos) {
            end = osRelease.size();
        }
        const std::string_view line = osRelease.substr(start, end - start);
        if (line.substr(0, key.size()) == key) {
            value = unquoted(line.substr(key.size()));
        }
        start = end + 1;
    }
    std::array<std::int64_t, 3> numbers{0, 0, 0};
    std::size_t index = 0;
    std::size_t digits = 0;
    for (const char c : value) {
        if (c == '.') {
            if (++index == numbers.size()) {
                break;
            }
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 9) {
            numbers[index] = numbers[index] * 10 + (c - '0');
            ++digits;
        } else {
            break; // "rolling", "12-beta": keep what was numeric
        }
    }
    return {numbers[0], numbers[1], numbers[2]};
}

OperatingSystemVersion OSReleaseVersionSource::version() const {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        if (in) {
            std::ostringstream content;
            content << in.rdbuf();
            return parseOSReleaseVersion(content.str());
        }
    }
    return {};
}

} // namespace brivane::platform::linux_backend
