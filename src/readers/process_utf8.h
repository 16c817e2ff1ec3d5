#pragma once

#include <string>
#include <string_view>

namespace brivane {

// Decodes bytes as UTF-8, replacing each maximal ill-formed subsequence with U+FFFD, so the
// result is always valid UTF-8.
std::string decodeUTF8Replacing(std::string_view bytes);

} // namespace brivane
