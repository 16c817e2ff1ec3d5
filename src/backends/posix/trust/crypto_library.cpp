#include "backends/posix/trust/crypto_library.h"

namespace brivane::platform::posix {
namespace {

// Never closed: what it made may outlive any one user of it.
LibraryOnce<CryptoLibrary> crypto("libcrypto.so." OPENSSL_MSTR(OPENSSL_VERSION_MAJOR),
                                  "signatures");

} // namespace

const CryptoLibrary* cryptoLibrary() {
    return crypto.get();
}

const CryptoLibrary& openedCryptoLibrary() {
    return *crypto.opened();
}

} // namespace brivane::platform::posix
