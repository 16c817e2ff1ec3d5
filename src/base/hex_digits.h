#pragma once

#include <span>
#include <string>

namespace brivane::base {

// Bytes as lower-case hexadecimal, two digits each (how digests are written and compared).
std::string lowerHex(std::span<const unsigned char> bytes);

} // namespace brivane::base
