#pragma once

#include <functional>

namespace brivane::platform {

// Whether the file this process was started from is no longer the one at that path (replaced
// or removed since, as a package upgrade does). One file-status call: cheap enough to ask on
// every request. Never true where the platform cannot tell.
std::function<bool()> makeDefaultReplacementCheck();

} // namespace brivane::platform
