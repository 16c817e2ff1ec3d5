#include "tls_library.h"

namespace brivane::cli {
namespace {

// Never closed: sessions and contexts may outlive any one user of them.
platform::posix::LibraryOnce<TlsLibrary> tls("libssl.so." OPENSSL_MSTR(OPENSSL_VERSION_MAJOR),
                                             "the exporter");

} // namespace

const TlsLibrary* tlsLibrary(std::string& problem) {
    return tls.get(problem);
}

} // namespace brivane::cli
