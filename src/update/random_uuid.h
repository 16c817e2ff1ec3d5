#pragma once

#include <string>

namespace brivane {

// A version-4 UUID from the cryptographic random source, in canonical upper-case form.
// Throws std::runtime_error when no randomness is available.
std::string randomUUIDString();

} // namespace brivane
