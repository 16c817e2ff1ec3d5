#pragma once

#include <cstdint>
#include <string>

namespace brivane::cli {

// Whether the process pid runs under this process's user, as its folder in procRoot says; a
// process that has gone, or cannot be looked at, is not.
bool ownProcess(std::int64_t pid, const std::string& procRoot = "/proc");

} // namespace brivane::cli
