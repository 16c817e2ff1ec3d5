#include "update/sha256_hex.h"

#include "platform/hex_digits.h"

#include <array>
#include <openssl/sha.h>

namespace brivane {

std::string sha256Hex(std::span<const unsigned char> bytes) {
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256(bytes.data(), bytes.size(), digest.data());
    return platform::lowerHex(digest);
}

} // namespace brivane
