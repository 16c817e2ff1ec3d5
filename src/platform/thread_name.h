#pragma once

#include <string_view>

namespace brivane::platform {

// Names the calling thread for debuggers and process listings; the platform may truncate.
void setCurrentThreadName(std::string_view name);

} // namespace brivane::platform
