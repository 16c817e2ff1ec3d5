#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace brivane {

// The candidate a mistyped word most likely meant: the closest by edits (a letter inserted,
// left out, changed, or two neighbours swapped), when it is close enough to be a typo: at most
// two edits, and fewer than half the word's letters. Nothing when none is that close or the
// word is one of the candidates.
std::optional<std::string_view> nearestWord(std::string_view word,
                                            std::span<const std::string_view> candidates);

} // namespace brivane
