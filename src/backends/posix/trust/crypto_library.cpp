#include "backends/posix/trust/crypto_library.h"

#include <atomic>
#include <dlfcn.h>
#include <mutex>

namespace brivane::platform::posix {
namespace {

constexpr const char* runtimeName = "libcrypto.so." OPENSSL_MSTR(OPENSSL_VERSION_MAJOR);

std::once_flag opening;
std::atomic<const CryptoLibrary*> opened = nullptr;

const CryptoLibrary* open() {
    // Never closed: what it made may outlive any one user of it.
    void* handle = ::dlopen(runtimeName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        return nullptr;
    }
    auto* library = new CryptoLibrary;
    bool complete = true;
#define BRIVANE_CRYPTO_RESOLVE(name)                                                               \
    library->name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));                   \
    complete = complete && library->name;
    BRIVANE_CRYPTO_FUNCTIONS(BRIVANE_CRYPTO_RESOLVE)
#undef BRIVANE_CRYPTO_RESOLVE
    if (!complete) {
        delete library;
        return nullptr;
    }
    return library;
}

} // namespace

const CryptoLibrary* cryptoLibrary() {
    std::call_once(opening, [] { opened = open(); });
    return opened;
}

const CryptoLibrary& openedCryptoLibrary() {
    return *opened.load();
}

} // namespace brivane::platform::posix
