#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace brivane::bench {

// The baseline: a Unix socket server that answers every request frame at once with a fixed
// document in a reply frame, one blocking thread per client. No queues, no parsing beyond
// framing.
class EchoServer {
public:
    EchoServer(std::string path, std::string document);
    ~EchoServer();

    const std::string& path() const { return path_; }

private:
    void acceptLoop();
    void serve(int fd);

    std::string path_;
    std::string document_;
    int listenFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> clients_;
};

} // namespace brivane::bench
