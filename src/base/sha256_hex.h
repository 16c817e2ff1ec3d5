#pragma once

#include <span>
#include <string>

namespace brivane::base {

// The SHA-256 digest of bytes as 64 lower-case hexadecimal digits; empty if the digest fails.
std::string sha256Hex(std::span<const unsigned char> bytes);

} // namespace brivane::base
