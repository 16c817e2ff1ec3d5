#pragma once

#include <string>

namespace brivane::base {

// What an errno value means, as strerror words it, but safe on any thread: strerror may share
// one buffer between all of them.
std::string errorText(int error);

} // namespace brivane::base
