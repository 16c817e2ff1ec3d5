#pragma once

#include "listen_address.h"
#include "snapshot_sharing.h"

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

    // Connections served at once: 200 idle or trickling ones still leave workers for scrapes.
    static constexpr int workers = 256;
    // What a connection may take to send its request, and to send the next one when kept.
    static constexpr int requestTimeoutMs = 5000;
    static constexpr int idleTimeoutMs = 5000;
    // Connections beyond the workers wait in the server's queue, then in the kernel's backlog;
    // past those the newest are shed, and the ones admitted before them are still served.
    static constexpr int queued = 64;
    static constexpr int backlog = 512;

private:
    MetricsExporter() = default;
    static int serve(mg_connection* connection, void* exporter);

    std::shared_ptr<SharedSnapshot> snapshots_;
    mg_context* server_ = nullptr;
};

} // namespace brivane::cli
