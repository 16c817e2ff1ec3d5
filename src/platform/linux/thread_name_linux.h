#pragma once

#include <string_view>

namespace brivane::platform::linux_backend {

// pthread names hold 15 characters; longer names are cut rather than rejected.
void setThreadName(std::string_view name);

} // namespace brivane::platform::linux_backend
