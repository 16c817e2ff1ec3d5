#include "base/sha256_hex.h"

#include "base/hex_digits.h"

#include <array>
#include <openssl/evp.h>

namespace brivane::base {

std::string sha256Hex(std::span<const unsigned char> bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
        1) {
        return {}; // never equal to a digest, so a check against it fails
    }
    return lowerHex(std::span(digest).first(length));
}

} // namespace brivane::base
