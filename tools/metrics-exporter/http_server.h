#pragma once

#include "backends/posix/system/file_descriptor.h"
#include "platform/event_loop.h"
#include "request_head.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brivane::cli {

class TlsContext;
class TlsSession;

// One answer; HEAD gets its header only.
struct HttpAnswer {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::shared_ptr<const std::string> body; // shared by every connection it goes to
    std::vector<std::pair<std::string, std::string>> headers;
    bool close = false;
};

// A small HTTP/1.1 server on the process's epoll loop, written for this exporter rather than
// taken from a library: the libraries Debian has run a thread per connection (civetweb), map
// GnuTLS into every exporter and hold 4.5 KiB per idle connection (libmicrohttpd), or take
// 75 KiB per TLS connection (Boost.Beast over Asio's TLS stream), where this one holds 600 idle
// connections in under 100 KiB and a TLS one in about 14 KiB (docs/performance.md). It serves
// what a scraper needs: GET and HEAD without bodies, keep-alive, one request at a time per
// connection (a pipelined one waits in its buffer), TLS when a context is set.
//
// Every limit is its own: a connection has headerDeadline to send a whole request head (the
// TLS handshake included), and as long again when kept between requests; writeDeadline to take
// an answer; at most headLimit bytes of head; all connections together hold at most
// bufferedLimit bytes of unfinished heads, past which the connection that sends more is
// closed. Past maxConnections the server stops accepting until one closes, and new clients
// wait in the kernel's backlog.
//
// Runs on the loop's thread: every call, and the handler, which must answer each request once
// (at once or later) by its connection's id.
class HttpServer {
public:
    struct Limits {
        std::size_t maxConnections = 1024;
        std::chrono::milliseconds headerDeadline{2000};
        std::chrono::milliseconds writeDeadline{10000};
        std::size_t headLimit = 16 * 1024;
        std::size_t bufferedLimit = 1024 * 1024;
    };
    using Id = std::uint64_t;
    using Handler = std::function<void(Id, const RequestHead&)>;

    HttpServer(platform::EventLoop& loop, std::vector<platform::posix::FileDescriptor> listeners,
               Limits limits, Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Connections accepted from now on speak TLS with context; nullptr: plain HTTP.
    void useTls(std::shared_ptr<const TlsContext> context) { tls_ = std::move(context); }
    // Answers the request connection id waits on; nothing when that connection has gone.
    void answer(Id id, HttpAnswer answer);
    std::size_t connections() const { return connections_.size(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Connection;

    void acceptFrom(int listener);
    void pauseAccepting(bool paused);
    void onEvent(Id id, unsigned events);
    void readRequests(Id id, Connection& connection);
    bool takeRequest(Id id, Connection& connection);
    void writeAnswer(Id id, Connection& connection);
    void finish(Id id, Connection& connection);
    void drain(Id id, Connection& connection);
    void close(Id id);
    void planSweep();
    void sweep();

    platform::EventLoop& loop_;
    std::vector<platform::posix::FileDescriptor> listeners_;
    Limits limits_;
    Handler handler_;
    std::shared_ptr<const TlsContext> tls_;
    std::unordered_map<Id, std::unique_ptr<Connection>> connections_;
    Id nextId_ = 1;
    std::vector<char> scratch_ = std::vector<char>(16 * 1024); // what a read takes in
    std::size_t buffered_ = 0; // bytes of unfinished heads, over every connection
    bool acceptPaused_ = false;
    bool sweepPlanned_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // for timers past this
};

} // namespace brivane::cli
