#pragma once

#include <charconv>
#include <concepts>
#include <optional>
#include <string_view>
#include <system_error>

namespace brivane::base {

// The whole text as one number, or nothing. from_chars alone stops at the first character it
// cannot use and reports success for what came before, so "12abc" would read as 12. No sign
// but from_chars' own '-' (for signed and floating types), no blanks, no empty text.
template <std::integral T>
constexpr std::optional<T> wholeNumber(std::string_view text, int base = 10) {
    T value{};
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

template <std::floating_point T>
std::optional<T> wholeNumber(std::string_view text,
                             std::chars_format format = std::chars_format::general) {
    T value{};
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, format);
    if (text.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace brivane::base
