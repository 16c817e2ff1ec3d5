#pragma once

#include "listen_address.h"
#include "snapshot_sharing.h"

#include <cstddef>
#include <memory>
#include <string>

struct CivetCallbacks;

namespace prometheus {
class Collectable;
class Exposer;
} // namespace prometheus

namespace brivane::cli {

// Serves /metrics over HTTP; each scrape takes a fresh snapshot from the agent, shared with the
// scrapes that arrive while it is being taken. A scrape always answers 200: without a snapshot
// it carries brivane_up 0 and no readings.
class MetricsExporter {
public:
    static std::unique_ptr<MetricsExporter>
    start(const ListenAddress& address, SharedSnapshot::Fetch fetch, std::string& problem);
    ~MetricsExporter();

    // The port served (the chosen one when asked for port 0).
    int port() const;

    // HTTP requests that reached any exporter of this process so far.
    static std::size_t requestsBegun();

    // Scrapes served at once; more wait for a free worker.
    static constexpr int workers = 32;

private:
    MetricsExporter() = default;

    std::shared_ptr<SharedSnapshot> snapshots_;
    std::shared_ptr<prometheus::Collectable> collectable_;
    std::unique_ptr<CivetCallbacks> callbacks_;
    std::unique_ptr<prometheus::Exposer> exposer_;
};

} // namespace brivane::cli
