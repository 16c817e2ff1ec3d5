#include "tls_library.h"

#include <dlfcn.h>
#include <mutex>

namespace brivane::cli {
namespace {

constexpr const char* runtimeName = "libssl.so." OPENSSL_MSTR(OPENSSL_VERSION_MAJOR);

std::mutex opening;
const TlsLibrary* opened = nullptr;
std::string failure;

} // namespace

const TlsLibrary* tlsLibrary(std::string& problem) {
    const std::lock_guard lock(opening);
    if (opened || !failure.empty()) {
        problem = failure;
        return opened;
    }
    // Never closed: sessions and contexts may outlive any one user of them.
    void* handle = ::dlopen(runtimeName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        failure = std::string("cannot open ") + runtimeName + ": " + (why ? why : "unknown");
        problem = failure;
        return nullptr;
    }
    auto* library = new TlsLibrary;
    bool complete = true;
#define BRIVANE_TLS_RESOLVE(name)                                                                  \
    library->name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));                   \
    complete = complete && library->name;
    BRIVANE_TLS_FUNCTIONS(BRIVANE_TLS_RESOLVE)
#undef BRIVANE_TLS_RESOLVE
    if (!complete) {
        delete library;
        failure = std::string(runtimeName) + " lacks a function the exporter needs";
        problem = failure;
        return nullptr;
    }
    opened = library;
    return opened;
}

bool tlsLibraryLoaded() {
    const std::lock_guard lock(opening);
    return opened != nullptr;
}

} // namespace brivane::cli
