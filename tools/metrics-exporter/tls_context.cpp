#include "tls_context.h"

#include "tls_library.h"

#include <openssl/err.h>

namespace brivane::cli {
namespace {

// The oldest queued OpenSSL error as text, and the queue emptied.
std::string lastError(const std::string& doing) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = "";
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    return doing + (code != 0 ? std::string(": ") + text : std::string());
}

// For the policies that ask for a certificate without checking it.
int acceptAnyCertificate(int, X509_STORE_CTX*) {
    return 1;
}

} // namespace

std::shared_ptr<const TlsContext> TlsContext::make(const WebConfig::Tls& settings,
                                                   std::string& problem) {
    const TlsLibrary* library = tlsLibrary(problem);
    if (!library) {
        return nullptr;
    }
    const auto& ssl = *library;
    ERR_clear_error();
    SSL_CTX* context = ssl.SSL_CTX_new(ssl.TLS_server_method());
    if (!context) {
        problem = lastError("cannot make a TLS context");
        return nullptr;
    }
    std::shared_ptr<const TlsContext> made(new TlsContext(ssl, context));
    const auto control = [&](int command, long value, void* argument = nullptr) {
        return ssl.SSL_CTX_ctrl(context, command, value, argument);
    };
    control(SSL_CTRL_SET_MIN_PROTO_VERSION, settings.minVersion);
    control(SSL_CTRL_SET_MAX_PROTO_VERSION, settings.maxVersion);
    // An idle session keeps no buffers; a partial write goes on where it stopped.
    control(SSL_CTRL_MODE, SSL_MODE_RELEASE_BUFFERS | SSL_MODE_ENABLE_PARTIAL_WRITE |
                               SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // No server-side session cache, which would grow with every client: tickets resume instead.
    control(SSL_CTRL_SET_SESS_CACHE_MODE, SSL_SESS_CACHE_OFF);
    ssl.SSL_CTX_set_options(
        context, SSL_OP_NO_RENEGOTIATION |
                     (settings.preferServerCiphers ? SSL_OP_CIPHER_SERVER_PREFERENCE : 0));
    if (ssl.SSL_CTX_use_certificate_chain_file(context, settings.certFile.c_str()) != 1) {
        problem = lastError("cannot use the certificate " + settings.certFile);
        return nullptr;
    }
    if (ssl.SSL_CTX_use_PrivateKey_file(context, settings.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        ssl.SSL_CTX_check_private_key(context) != 1) {
        problem = lastError("cannot use the key " + settings.keyFile);
        return nullptr;
    }
    if (!settings.cipherList.empty() &&
        ssl.SSL_CTX_set_cipher_list(context, settings.cipherList.c_str()) != 1) {
        problem = lastError("cannot use the cipher suites " + settings.cipherList);
        return nullptr;
    }
    if (!settings.curveList.empty() &&
        control(SSL_CTRL_SET_GROUPS_LIST, 0, const_cast<char*>(settings.curveList.c_str())) != 1) {
        problem = lastError("cannot use the curves " + settings.curveList);
        return nullptr;
    }
    if (!settings.clientCaFile.empty()) {
        STACK_OF(X509_NAME)* names = ssl.SSL_load_client_CA_file(settings.clientCaFile.c_str());
        if (!names || ssl.SSL_CTX_load_verify_locations(context, settings.clientCaFile.c_str(),
                                                        nullptr) != 1) {
            if (names) {
                sk_X509_NAME_pop_free(names, X509_NAME_free);
            }
            problem = lastError("cannot use the client CA file " + settings.clientCaFile);
            return nullptr;
        }
        ssl.SSL_CTX_set_client_CA_list(context, names); // takes names
    }
    using Auth = WebConfig::ClientAuth;
    switch (settings.clientAuth) {
    case Auth::none:
        ssl.SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
        break;
    case Auth::request:
        ssl.SSL_CTX_set_verify(context, SSL_VERIFY_PEER, acceptAnyCertificate);
        break;
    case Auth::requireAny:
        ssl.SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                               acceptAnyCertificate);
        break;
    case Auth::verifyIfGiven:
        ssl.SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        break;
    case Auth::requireAndVerify:
        ssl.SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        break;
    }
    return made;
}

TlsContext::~TlsContext() {
    library_.SSL_CTX_free(context_);
}

std::unique_ptr<TlsSession> TlsContext::session(int fd) const {
    SSL* ssl = library_.SSL_new(context_);
    if (!ssl) {
        ERR_clear_error();
        return nullptr;
    }
    auto session = std::make_unique<TlsSession>(library_, ssl);
    if (library_.SSL_set_fd(ssl, fd) != 1) {
        return nullptr;
    }
    library_.SSL_set_accept_state(ssl);
    return session;
}

TlsSession::~TlsSession() {
    library_.SSL_free(ssl_);
}

TransferResult TlsSession::result(int returned) {
    if (returned > 0) {
        return {TransferResult::done, static_cast<std::size_t>(returned)};
    }
    const int error = library_.SSL_get_error(ssl_, returned);
    // Left in the thread's queue, an error would be blamed on the next connection.
    ERR_clear_error();
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return {TransferResult::wantRead};
    case SSL_ERROR_WANT_WRITE:
        return {TransferResult::wantWrite};
    default:
        return {TransferResult::closed};
    }
}

TransferResult TlsSession::read(char* buffer, std::size_t size) {
    ERR_clear_error();
    return result(library_.SSL_read(ssl_, buffer, static_cast<int>(size)));
}

TransferResult TlsSession::write(const char* data, std::size_t size) {
    ERR_clear_error();
    return result(library_.SSL_write(ssl_, data, static_cast<int>(size)));
}

} // namespace brivane::cli

namespace brivane::cli {

void TlsSession::closeNotify() {
    ERR_clear_error();
    library_.SSL_shutdown(ssl_);
    ERR_clear_error();
}

} // namespace brivane::cli
