#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brivane::base::utf8 {

inline constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

// One step through the bytes. A well-formed sequence (no overlong form, surrogate or point
// beyond U+10FFFF) gives its code point; an ill-formed one gives the length of its maximal
// prefix that could still start a well-formed sequence (at least 1), the unit one U+FFFD
// replaces.
struct Sequence {
    char32_t codePoint;
    std::size_t length;
    bool valid;
};

// Decodes the sequence starting at bytes[at]; `at` must be inside `bytes`.
Sequence decode(std::string_view bytes, std::size_t at);

bool isValid(std::string_view bytes);

// The bytes with each maximal ill-formed subsequence replaced by U+FFFD.
std::string replacingInvalid(std::string_view bytes);

// The longest prefix of at most maxBytes bytes that does not cut a sequence in two.
std::string_view truncated(std::string_view bytes, std::size_t maxBytes);

} // namespace brivane::base::utf8
