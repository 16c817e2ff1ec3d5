#pragma once

#include <string>
#include <string_view>

namespace brivane::platform::posix {

// A process name fit for one line of a tool's output: the kernel's bytes unchanged (UTF-8 stays
// UTF-8, whatever the locale), except ASCII control characters and the Unicode line and
// paragraph breaks (U+0085, U+2028, U+2029), which would end the line early or forge another,
// and become '?'.
std::string lineSafeName(std::string_view name);

} // namespace brivane::platform::posix
