#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivane {

using SMCValueBytes = std::array<std::uint8_t, 32>;

// The number a value of type `dataType` holds; absent for a type that is not a number
// ("fp2e", "{fds") or that the companion does not know. No range or finiteness check.
std::optional<double> decodeSMCValue(std::string_view dataType, const SMCValueBytes& bytes);

// Keys whose all-zero value is a reading (fan modes and the forced-fan mask), not "no value".
bool isZeroValueKey(std::string_view key);

bool allBytesZero(const SMCValueBytes& bytes);

// The name in a fan descriptor: bytes 4 to 15, each as code point U+0000..U+00FF, with
// blanks (space, no-break space, tab) trimmed at both ends; NUL is kept. UTF-8.
std::string fanDescriptorName(const SMCValueBytes& bytes);

} // namespace brivane
