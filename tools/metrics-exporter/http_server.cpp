#include "http_server.h"

#include "tls_context.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace brivane::cli {
namespace {

using platform::EventLoop;

constexpr auto sweepInterval = std::chrono::milliseconds(250);
constexpr auto acceptPause = std::chrono::milliseconds(100);

const char* reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

std::string httpDate() {
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return date;
}

// The answer to a request the server refuses itself; it never repeats what the client sent.
HttpAnswer refusal(HeadVerdict verdict) {
    static const auto malformed = std::make_shared<const std::string>("Malformed request.\n");
    static const auto large = std::make_shared<const std::string>("Request header too large.\n");
    static const auto version =
        std::make_shared<const std::string>("Only HTTP/1.0 and HTTP/1.1 are served.\n");
    switch (verdict) {
    case HeadVerdict::tooLarge:
        return {431, "text/plain; charset=utf-8", large, {}, true};
    case HeadVerdict::wrongVersion:
        return {505, "text/plain; charset=utf-8", version, {}, true};
    default:
        return {400, "text/plain; charset=utf-8", malformed, {}, true};
    }
}

} // namespace

struct HttpServer::Connection {
    enum class Phase { reading, waiting, writing, draining };

    platform::posix::FileDescriptor fd;
    std::unique_ptr<TlsSession> tls;
    Phase phase = Phase::reading;
    Clock::time_point deadline;
    std::string input; // received and not yet taken as a request
    std::string header;
    std::shared_ptr<const std::string> body;
    std::size_t sent = 0; // of the header, then of the body
    bool head = false;
    bool keepAlive = true;

    TransferResult receive(char* buffer, std::size_t size) {
        if (tls) {
            return tls->read(buffer, size);
        }
        const auto got = ::recv(fd.get(), buffer, size, MSG_DONTWAIT);
        if (got > 0) {
            return {TransferResult::done, static_cast<std::size_t>(got)};
        }
        return {got < 0 && (errno == EAGAIN || errno == EINTR) ? TransferResult::wantRead
                                                               : TransferResult::closed};
    }

    // Header and body in one write where the socket takes them, so the client wakes once.
    TransferResult send() {
        const std::size_t bodySize = head || !body ? 0 : body->size();
        const std::size_t inHeader = sent < header.size() ? header.size() - sent : 0;
        const std::size_t bodySent = sent - (header.size() - inHeader);
        if (tls) {
            return inHeader > 0 ? tls->write(header.data() + sent, inHeader)
                                : tls->write(body->data() + bodySent, bodySize - bodySent);
        }
        iovec parts[2] = {
            {const_cast<char*>(header.data()) + (header.size() - inHeader), inHeader},
            {const_cast<char*>(body ? body->data() : nullptr) + bodySent, bodySize - bodySent}};
        msghdr message{};
        message.msg_iov = inHeader > 0 ? parts : parts + 1;
        message.msg_iovlen = inHeader > 0 ? 2 : 1;
        const auto written = ::sendmsg(fd.get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written >= 0) {
            return {TransferResult::done, static_cast<std::size_t>(written)};
        }
        return {errno == EAGAIN || errno == EINTR ? TransferResult::wantWrite
                                                  : TransferResult::closed};
    }

    std::size_t total() const { return header.size() + (head || !body ? 0 : body->size()); }
};

HttpServer::HttpServer(platform::EventLoop& loop,
                       std::vector<platform::posix::FileDescriptor> listeners, Limits limits,
                       Handler handler)
    : loop_(loop), listeners_(std::move(listeners)), limits_(limits), handler_(std::move(handler)) {
    for (const auto& listener : listeners_) {
        const int fd = listener.get();
        loop_.watch(fd, EventLoop::readable, [this, fd](unsigned) { acceptFrom(fd); });
    }
}

HttpServer::~HttpServer() {
    *alive_ = false;
    for (const auto& [id, connection] : connections_) {
        loop_.unwatch(connection->fd.get());
    }
    for (const auto& listener : listeners_) {
        loop_.unwatch(listener.get());
    }
}

void HttpServer::acceptFrom(int listener) {
    while (connections_.size() < limits_.maxConnections) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno != EAGAIN) {
                // Out of descriptors or memory: retried at once, accept would spin a core.
                pauseAccepting(true);
                loop_.runAt(Clock::now() + acceptPause, [this, alive = alive_] {
                    if (*alive && connections_.size() < limits_.maxConnections) {
                        pauseAccepting(false);
                    }
                });
            }
            return;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = platform::posix::FileDescriptor(fd);
        // An answer goes out in one or two writes; none may wait for a delayed ACK.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (tls_ && !(connection->tls = tls_->session(fd))) {
            continue;
        }
        connection->deadline = Clock::now() + limits_.headerDeadline;
        const Id id = nextId_++;
        if (!loop_.watch(fd, EventLoop::readable,
                         [this, id](unsigned events) { onEvent(id, events); })) {
            continue;
        }
        connections_.emplace(id, std::move(connection));
        planSweep();
    }
    pauseAccepting(true);
}

void HttpServer::pauseAccepting(bool paused) {
    if (acceptPaused_ == paused) {
        return;
    }
    acceptPaused_ = paused;
    for (const auto& listener : listeners_) {
        loop_.change(listener.get(), paused ? 0u : unsigned{EventLoop::readable});
    }
}

void HttpServer::onEvent(Id id, unsigned events) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) {
        return;
    }
    auto& connection = *found->second;
    using Phase = Connection::Phase;
    if ((events & EventLoop::hangUp) && connection.phase == Phase::waiting) {
        close(id); // the client left before its answer
        return;
    }
    switch (connection.phase) {
    case Phase::reading:
        readRequests(id, connection);
        break;
    case Phase::writing:
        writeAnswer(id, connection);
        break;
    case Phase::draining:
        drain(id, connection);
        break;
    case Phase::waiting:
        break;
    }
}

void HttpServer::readRequests(Id id, Connection& connection) {
    if (takeRequest(id, connection)) {
        return;
    }
    for (;;) {
        const auto got = connection.receive(scratch_.data(), scratch_.size());
        if (got.status == TransferResult::wantRead || got.status == TransferResult::wantWrite) {
            loop_.change(connection.fd.get(), got.status == TransferResult::wantRead
                                                  ? EventLoop::readable
                                                  : EventLoop::writable);
            return;
        }
        if (got.status == TransferResult::closed || buffered_ + got.bytes > limits_.bufferedLimit) {
            close(id);
            return;
        }
        connection.input.append(scratch_.data(), got.bytes);
        buffered_ += got.bytes;
        if (takeRequest(id, connection)) {
            return;
        }
    }
}

// Takes the request at the start of the connection's input, if it is complete, to the handler
// (or answers it when it is refused); true when it did, and the connection no longer reads.
bool HttpServer::takeRequest(Id id, Connection& connection) {
    if (connection.input.empty()) {
        return false;
    }
    const auto parsed = parseRequestHead(connection.input, limits_.headLimit);
    if (parsed.verdict == HeadVerdict::incomplete) {
        return false;
    }
    connection.phase = Connection::Phase::waiting;
    connection.deadline = Clock::time_point::max();
    loop_.change(connection.fd.get(), 0);
    if (parsed.verdict != HeadVerdict::complete) {
        connection.keepAlive = false;
        answer(id, refusal(parsed.verdict));
        return true;
    }
    buffered_ -= parsed.length;
    connection.input.erase(0, parsed.length);
    if (connection.input.empty()) {
        std::string().swap(connection.input); // an idle connection keeps no buffer
    }
    connection.head = parsed.head.method == "HEAD";
    // The server reads no body: after one, the connection ends.
    connection.keepAlive = parsed.head.keepAlive && !parsed.head.announcesBody;
    handler_(id, parsed.head); // may answer, and so close, at once
    return true;
}

void HttpServer::answer(Id id, HttpAnswer answer) {
    const auto found = connections_.find(id);
    if (found == connections_.end() || found->second->phase != Connection::Phase::waiting) {
        return;
    }
    auto& connection = *found->second;
    connection.keepAlive = connection.keepAlive && !answer.close;
    connection.body = std::move(answer.body);
    auto& out = connection.header;
    out.append("HTTP/1.1 ")
        .append(std::to_string(answer.status))
        .append(" ")
        .append(reason(answer.status))
        .append("\r\nContent-Type: ")
        .append(answer.contentType)
        .append("\r\nContent-Length: ")
        .append(std::to_string(connection.body ? connection.body->size() : 0))
        .append("\r\nDate: ")
        .append(httpDate());
    for (const auto& [name, value] : answer.headers) {
        out.append("\r\n").append(name).append(": ").append(value);
    }
    out.append(connection.keepAlive ? "\r\nConnection: keep-alive\r\n\r\n"
                                    : "\r\nConnection: close\r\n\r\n");
    connection.sent = 0;
    connection.phase = Connection::Phase::writing;
    connection.deadline = Clock::now() + limits_.writeDeadline;
    planSweep();
    writeAnswer(id, connection);
}

void HttpServer::writeAnswer(Id id, Connection& connection) {
    while (connection.sent < connection.total()) {
        const auto wrote = connection.send();
        if (wrote.status == TransferResult::closed) {
            close(id);
            return;
        }
        if (wrote.status != TransferResult::done) {
            loop_.change(connection.fd.get(), wrote.status == TransferResult::wantRead
                                                  ? EventLoop::readable
                                                  : EventLoop::writable);
            return;
        }
        connection.sent += wrote.bytes;
    }
    finish(id, connection);
}

void HttpServer::finish(Id id, Connection& connection) {
    std::string().swap(connection.header);
    connection.body.reset();
    connection.deadline = Clock::now() + limits_.headerDeadline;
    planSweep();
    loop_.change(connection.fd.get(), EventLoop::readable);
    if (!connection.keepAlive) {
        // Closed with unread bytes, the socket would reset the connection and might destroy the
        // answer before the client read it: the server stops sending and reads until the client
        // closes, or the deadline.
        if (connection.tls) {
            connection.tls->closeNotify();
        }
        ::shutdown(connection.fd.get(), SHUT_WR);
        connection.phase = Connection::Phase::draining;
        buffered_ -= connection.input.size();
        std::string().swap(connection.input);
        return;
    }
    connection.phase = Connection::Phase::reading;
    // A request that came with the last one, in the input or in a TLS record already read,
    // is taken on the next turn of the loop, not within this call.
    if (!connection.input.empty() || connection.tls) {
        loop_.runAt(Clock::now(), [this, id, alive = alive_] {
            const auto found = *alive ? connections_.find(id) : connections_.end();
            if (found != connections_.end() && found->second->phase == Connection::Phase::reading) {
                readRequests(id, *found->second);
            }
        });
    }
}

void HttpServer::drain(Id id, Connection& connection) {
    for (;;) {
        const auto got =
            ::recv(connection.fd.get(), scratch_.data(), scratch_.size(), MSG_DONTWAIT);
        if (got <= 0) {
            if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                close(id);
            }
            return;
        }
    }
}

void HttpServer::close(Id id) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) {
        return;
    }
    loop_.unwatch(found->second->fd.get());
    buffered_ -= found->second->input.size();
    connections_.erase(found);
    if (connections_.size() < limits_.maxConnections) {
        pauseAccepting(false);
    }
}

void HttpServer::planSweep() {
    if (sweepPlanned_) {
        return;
    }
    sweepPlanned_ = true;
    loop_.runAt(Clock::now() + sweepInterval, [this, alive = alive_] {
        if (*alive) {
            sweepPlanned_ = false;
            sweep();
        }
    });
}

void HttpServer::sweep() {
    const auto now = Clock::now();
    std::vector<Id> late;
    bool timed = false;
    for (const auto& [id, connection] : connections_) {
        if (connection->deadline <= now) {
            late.push_back(id);
        } else {
            timed = timed || connection->deadline != Clock::time_point::max();
        }
    }
    for (const Id id : late) {
        close(id);
    }
    if (timed) {
        planSweep();
    }
}

} // namespace brivane::cli
