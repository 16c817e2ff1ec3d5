#include "password_check.h"

#include <algorithm>
#include <cctype>
#include <crypt.h>
#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

namespace brivane::cli {
namespace {

bool isBcrypt(std::string_view hash) {
    return hash.starts_with("$2a$") || hash.starts_with("$2b$") || hash.starts_with("$2y$");
}

} // namespace

bool bcryptMatches(const std::string& password, const std::string& hash) {
    if (!isBcrypt(hash)) {
        return false;
    }
    // 32 KiB of state: on the heap, not the worker's stack.
    const auto state = std::make_unique<crypt_data>();
    const char* computed = ::crypt_r(password.c_str(), hash.c_str(), state.get());
    return computed && computed[0] != '*' && std::string_view(computed).size() == hash.size() &&
           CRYPTO_memcmp(computed, hash.data(), hash.size()) == 0;
}

bool basicCredentials(std::string_view authorization, std::string& user, std::string& password) {
    constexpr std::string_view scheme = "Basic ";
    if (authorization.size() <= scheme.size() ||
        !std::equal(scheme.begin(), scheme.end(), authorization.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
        })) {
        return false;
    }
    const auto encoded = authorization.substr(scheme.size());
    if (encoded.size() % 4 != 0 || encoded.size() > 4096) {
        return false;
    }
    std::string decoded(encoded.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                       reinterpret_cast<const unsigned char*>(encoded.data()),
                                       static_cast<int>(encoded.size()));
    if (length < 0) {
        return false;
    }
    // The block decoder counts the padding as bytes of its own.
    const auto padding = encoded.size() - encoded.find_last_not_of('=') - 1;
    decoded.resize(static_cast<std::size_t>(length) - std::min<std::size_t>(padding, 2));
    const auto colon = decoded.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    user = decoded.substr(0, colon);
    password = decoded.substr(colon + 1);
    return true;
}

PasswordCheck::PasswordCheck(Post post) : post_(std::move(post)) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (::crypt_gensalt_rn("$2b$", 10, nullptr, 0, setting, sizeof setting)) {
        dummySetting_ = setting;
    }
}

PasswordCheck::Verdict PasswordCheck::check(const std::map<std::string, std::string>& users,
                                            std::string_view authorization,
                                            std::function<void(bool)> decided) {
    std::string user, password;
    if (!basicCredentials(authorization, user, password)) {
        return Verdict::refused;
    }
    const auto known = users.find(user);
    const std::string hash = known != users.end() ? known->second : dummySetting_;
    // The hash is part of the digest, so a reload that changes it forgets the old verdict.
    Digest digest{};
    const std::string remembered = user + '\0' + password + '\0' + hash;
    SHA256(reinterpret_cast<const unsigned char*>(remembered.data()), remembered.size(),
           digest.data());
    if (known != users.end() && verified_.count(digest) > 0) {
        return Verdict::admitted;
    }
    if (waiting_ >= mostWaiting) {
        return Verdict::busy;
    }
    ++waiting_;
    worker_.async([this, password = std::move(password), hash, digest,
                   isKnown = known != users.end(), decided = std::move(decided)]() mutable {
        const bool matches = bcryptMatches(password, hash) && isKnown;
        post_([this, matches, digest, decided = std::move(decided)] {
            --waiting_;
            if (matches) {
                if (verified_.size() >= mostRemembered) {
                    verified_.clear();
                }
                verified_.insert(digest);
            }
            decided(matches);
        });
    });
    return Verdict::pending;
}

} // namespace brivane::cli
