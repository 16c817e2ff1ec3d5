#pragma once

#include <string_view>

namespace brivane::platform::linux_backend {

// pthread names hold 15 characters; longer names are cut rather than rejected.
void setThreadName(std::string_view name);

// Linux nice values are per thread: utility work runs this much nicer than its creator.
constexpr int utilityNiceIncrement = 10;

// Raises the calling thread's nice value by utilityNiceIncrement (capped at 19).
void lowerThreadPriority();

} // namespace brivane::platform::linux_backend
