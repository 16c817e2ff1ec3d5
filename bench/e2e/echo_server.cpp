#include "echo_server.h"

#include "ipc/frame_codec.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace brivane::bench {
namespace {

bool readExactly(int fd, char* into, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::read(fd, into, size);
        if (got <= 0) {
            return false;
        }
        into += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t put = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

EchoServer::EchoServer(std::string path, std::string document)
    : path_(std::move(path)), document_(std::move(document)) {
    ::unlink(path_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
}

EchoServer::~EchoServer() {
    stopping_ = true;
    if (listenFd_ >= 0) {
        ::shutdown(listenFd_, SHUT_RDWR);
        ::close(listenFd_);
    }
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    for (auto& client : clients_) {
        client.join();
    }
    ::unlink(path_.c_str());
}

void EchoServer::acceptLoop() {
    while (!stopping_) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        clients_.emplace_back([this, fd] { serve(fd); });
    }
}

void EchoServer::serve(int fd) {
    std::string body;
    std::string reply;
    char header[ipc::frameHeaderSize];
    while (readExactly(fd, header, sizeof header)) {
        const auto scan =
            ipc::scanFrame(std::string_view(header, sizeof header), ipc::maximumRequestBody);
        if (scan.status == ipc::FrameScan::Status::oversized) {
            break;
        }
        body.resize(scan.bodySize);
        if (!readExactly(fd, body.data(), body.size())) {
            break;
        }
        const auto request = ipc::decodeRequest(body);
        if (!std::holds_alternative<ipc::Request>(request)) {
            break;
        }
        reply.clear();
        ipc::appendReplyFrame(reply, std::get<ipc::Request>(request).id, document_);
        if (!writeAll(fd, reply)) {
            break;
        }
    }
    ::close(fd);
}

} // namespace brivane::bench
