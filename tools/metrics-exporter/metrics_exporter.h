#pragma once

#include "listen_address.h"
#include "sensors-common/snapshot_sharing.h"
#include "web_config.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace brivane::base {
class MainQueue;
class SerialQueue;
} // namespace brivane::base

namespace brivane::platform::posix {
class EpollEventLoop;
}

namespace brivane::cli {

class HttpServer;
class PasswordCheck;
struct RequestHead;

// Serves /metrics over HTTP or HTTPS (GET and HEAD), and a page at / that links it, as the web
// configuration says (TLS, passwords, headers). Each scrape takes a fresh snapshot from the
// agent on a thread of its own, shared with the scrapes that arrive while it is being taken, so
// the agent sees one request at a time and a frozen agent costs each scrape at most one
// timeout. A scrape always answers 200: without a snapshot it carries brivane_up 0.
//
// One thread serves every connection (HttpServer); bcrypt checks and snapshots run on their own.
class MetricsExporter {
public:
    using Fetch = std::function<FetchedSnapshot()>;
    struct Settings {
        std::vector<ListenAddress> addresses;
        Fetch fetch;
        WebConfig web;
    };

    // Why an address could not be listened on: its error number (EADDRINUSE: another process
    // listens there) and which of the addresses it is.
    struct BindFailure {
        int error = 0;
        std::size_t address = 0;
    };

    // Listens on every address, or returns nullptr with why in problem, and in bindFailure when
    // an address could not be bound.
    static std::unique_ptr<MetricsExporter> start(Settings settings, std::string& problem,
                                                  BindFailure* bindFailure = nullptr);
    ~MetricsExporter();
    MetricsExporter(const MetricsExporter&) = delete;
    MetricsExporter& operator=(const MetricsExporter&) = delete;

    // The port served on the address'th address (the chosen one when asked for port 0).
    int port(std::size_t address = 0) const { return ports_.at(address); }

    // New connections and requests follow web from now on; false, with why, when its TLS
    // cannot be set up, and the configuration in use stays. Any thread.
    bool reconfigure(const WebConfig& web, std::string& problem);

    // Connections held at once: as many as the descriptors allow, keeping some back for the
    // agent connection and its check, logging and the listening sockets.
    static std::size_t capacityFor(long available);
    static constexpr std::size_t mostConnections = 1024;
    static constexpr long reservedDescriptors = 32;
    static constexpr int backlog = 512;

private:
    MetricsExporter();
    void onRequest(std::uint64_t id, const RequestHead& head);
    void route(std::uint64_t id, const std::string& method, const std::string& path);
    void scrape(std::uint64_t id);
    void answer(std::uint64_t id, int status, std::string_view type,
                std::shared_ptr<const std::string> body, bool close = false);

    Fetch fetch_;
    std::unique_ptr<platform::posix::EpollEventLoop> loop_;
    std::unique_ptr<base::MainQueue> inbox_; // work for the loop's thread
    std::unique_ptr<HttpServer> server_;
    std::shared_ptr<const WebConfig> web_;
    std::unique_ptr<PasswordCheck> passwords_; // started with the first password to check
    std::vector<std::uint64_t> awaitingSnapshot_;
    bool fetching_ = false;
    std::vector<int> ports_;
    std::unique_ptr<base::SerialQueue> snapshots_;
    std::thread serving_;
};

} // namespace brivane::cli
