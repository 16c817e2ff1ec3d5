#pragma once

#include "backends/posix/system/shared_library.h"

#include <openssl/ssl.h>
#include <string>

namespace brivane::cli {

// The TLS functions of OpenSSL's libssl, which the exporter opens only when a web configuration
// asks for TLS: linked, it would cost every exporter its relocations and start-up whether it
// serves TLS or not. Opened by its runtime name (the package every libcrypto user has), never
// the development link. The functions keep OpenSSL's names and types.
struct TlsLibrary {
// clang-format off
#define BRIVANE_TLS_FUNCTIONS(X)                                                                   \
    X(TLS_server_method)                                                                           \
    X(SSL_CTX_new) X(SSL_CTX_free) X(SSL_CTX_ctrl) X(SSL_CTX_set_options)                          \
    X(SSL_CTX_use_certificate_chain_file) X(SSL_CTX_use_PrivateKey_file)                           \
    X(SSL_CTX_check_private_key) X(SSL_CTX_load_verify_locations) X(SSL_load_client_CA_file)       \
    X(SSL_CTX_set_client_CA_list) X(SSL_CTX_set_verify) X(SSL_CTX_set_cipher_list)                 \
    X(SSL_new) X(SSL_free) X(SSL_set_fd) X(SSL_set_accept_state) X(SSL_read) X(SSL_write)          \
    X(SSL_get_error) X(SSL_shutdown)
    // clang-format on
    BRIVANE_LIBRARY_TABLE(BRIVANE_TLS_FUNCTIONS)
};

// The library, opened on the first call and kept; nullptr, with why in problem, when it cannot
// be opened. Thread-safe.
const TlsLibrary* tlsLibrary(std::string& problem);

} // namespace brivane::cli
