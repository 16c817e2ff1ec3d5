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
// fresh snapshot from the agent, shared with the scrapes that arrive while it is being taken.
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

    // HTTP requests that reached any exporter of this process so far.
    static std::size_t requestsBegun();

    // Scrapes served at once; more wait for a free worker.
    static constexpr int workers = 32;

private:
    MetricsExporter() = default;
    static int serve(mg_connection* connection, void* exporter);

    std::shared_ptr<SharedSnapshot> snapshots_;
    mg_context* server_ = nullptr;
};

} // namespace brivane::cli
