#pragma once

#include <string>

namespace brivane::platform::posix {

// The login name of the process's real user, else (no account entry, as in some containers)
// that user's id in decimal.
std::string loginName();

} // namespace brivane::platform::posix
