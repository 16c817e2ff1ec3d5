#pragma once

#include "web_config.h"

#include <cstddef>
#include <memory>
#include <string>

struct ssl_ctx_st;
struct ssl_st;

namespace brivane::cli {

struct TlsLibrary;

// How far a read or a write on a connection got.
struct TransferResult {
    enum Status { done, wantRead, wantWrite, closed };
    Status status = done;
    std::size_t bytes = 0;
};

// The TLS side of one connection, from its handshake on.
class TlsSession {
public:
    TlsSession(const TlsLibrary& library, ssl_st* ssl) : library_(library), ssl_(ssl) {}
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Both go on with the handshake first while it lasts.
    TransferResult read(char* buffer, std::size_t size);
    TransferResult write(const char* data, std::size_t size);
    // Tells the client the session ends (close_notify), as far as the socket takes it now.
    void closeNotify();

private:
    TransferResult result(int returned);

    const TlsLibrary& library_;
    ssl_st* ssl_;
};

// Certificate, key and the client-certificate policy of one web configuration. Sessions keep
// the context they started with alive: a reload changes only the ones that follow.
class TlsContext {
public:
    static std::shared_ptr<const TlsContext> make(const WebConfig::Tls& settings,
                                                  std::string& problem);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A session on the accepted socket fd, or nullptr.
    std::unique_ptr<TlsSession> session(int fd) const;

private:
    TlsContext(const TlsLibrary& library, ssl_ctx_st* context)
        : library_(library), context_(context) {}

    const TlsLibrary& library_;
    ssl_ctx_st* context_;
};

} // namespace brivane::cli
