#pragma once

#include "listen_address.h"
#include "sensors-common/snapshot_sharing.h"

#include <cstddef>
#include <memory>
#include <string>

struct mg_connection;
struct mg_context;

namespace brivane::cli {

// Serves /metrics over HTTP (GET and HEAD), and a page at / that links it; each scrape takes a
// fresh snapshot from the agent, shared with the scrapes that arrive while it is being taken
// (SharedSnapshot).
// A scrape always answers 200: without a snapshot it carries brivane_up 0 and no readings.
class MetricsExporter {
public:
    static std::unique_ptr<MetricsExporter>
    start(const ListenAddress& address, SharedSnapshot::Fetch fetch, std::string& problem);
    ~MetricsExporter();
    MetricsExporter(const MetricsExporter&) = delete;
    MetricsExporter& operator=(const MetricsExporter&) = delete;

    // The port served (the chosen one when asked for port 0).
    int port() const;

    // What the server takes on at once: connections served by a worker each, and connections
    // accepted and waiting for one.
    struct Capacity {
        int workers = 0;
        int queued = 0;
    };
    // Sized so that every connection the server holds has a descriptor: it stops accepting
    // while its workers and queue are full, so an accept never fails for want of one (the
    // server library would retry it at once, spinning a core), and the clients beyond wait
    // in the kernel's backlog.
    static Capacity capacityFor(long freeDescriptors);
    // Enough workers that 600 idle connections of another user leave some for real scrapes.
    static constexpr int mostWorkers = 1024;
    static constexpr int mostQueued = 64;
    // Kept back for the agent connection and its check, logging and the listening socket.
    static constexpr int reservedDescriptors = 32;
    // What a connection may take to send its request header, the first or a kept one's next;
    // an idle or trickling connection holds its worker no longer than this.
    static constexpr int headerDeadlineMs = 2000;
    static constexpr int backlog = 512;

private:
    MetricsExporter() = default;
    static int serve(mg_connection* connection, void* exporter);

    std::shared_ptr<SharedSnapshot> snapshots_;
    mg_context* server_ = nullptr;
};

} // namespace brivane::cli
