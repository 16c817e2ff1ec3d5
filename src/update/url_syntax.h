#pragma once

#include <string_view>

namespace brivane {

// Whether text is a URL reference made only of the characters URLs may carry, with
// well-formed percent escapes. Blanks, controls, quotes and non-ASCII bytes fail.
bool isWellFormedURL(std::string_view text);

} // namespace brivane
