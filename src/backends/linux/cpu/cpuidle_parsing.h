#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brivane::platform::linux_backend {

// The idle states a CPU's cpuidle folder lists ("state0" … "state9"); the kernel has at most 10,
// a bound of 32 leaves room for later kernels.
inline constexpr int maximumIdleStates = 32;

// The number of a cpuidle entry "stateN"; nothing for any other entry or an N out of bounds.
std::optional<int> idleStateNumber(std::string_view entry);

// The name a cpuidle state gives itself ("POLL", "C1E", "C6", "WFI", "cpu-sleep-0") without
// its newline: 1 to 15 letters, digits and "_.+-" (the kernel's limit is 15 bytes); anything else
// is nothing, so that no stray byte reaches a document, a terminal or a metric label.
std::optional<std::string> idleStateName(std::string_view text);

} // namespace brivane::platform::linux_backend
