#include "backends/linux/cpu/cpuidle_parsing.h"

#include "backends/posix/kernel_files/sysfs_reading.h"

#include <algorithm>

namespace brivane::platform::linux_backend {

std::optional<int> idleStateNumber(std::string_view entry) {
    constexpr std::string_view prefix = "state";
    if (!entry.starts_with(prefix) || entry.size() > prefix.size() + 2)
        return std::nullopt;
    const std::string_view digits = entry.substr(prefix.size());
    // "state01" would be a second name for state 1.
    if (digits.empty() || (digits.size() > 1 && digits[0] == '0') ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int number =
        digits.size() == 1 ? digits[0] - '0' : (digits[0] - '0') * 10 + digits[1] - '0';
    if (number >= maximumIdleStates)
        return std::nullopt;
    return number;
}

std::optional<std::string> idleStateName(std::string_view text) {
    const std::string_view name = posix::withoutNewline(text);
    const auto allowed = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '.' || c == '+' || c == '-' || c == ' ';
    };
    // Inner blanks are real names (a virtual machine's "haltpoll idle"); outer ones are not.
    if (name.empty() || name.size() > 15 || name.front() == ' ' || name.back() == ' ' ||
        !std::all_of(name.begin(), name.end(), allowed))
        return std::nullopt;
    return std::string(name);
}

} // namespace brivane::platform::linux_backend
