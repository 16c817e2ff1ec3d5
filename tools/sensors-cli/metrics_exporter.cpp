#include "metrics_exporter.h"

#include "metrics_text.h"

#include <CivetServer.h>
#include <atomic>
#include <chrono>
#include <exception>
#include <prometheus/collectable.h>
#include <prometheus/exposer.h>

namespace brivane::cli {
namespace {

using Clock = SharedSnapshot::Clock;

// The server collects one scrape at a time, so a scrape cannot tell in the collector whether it
// overlapped another. Its worker thread notes when the request arrived, just before the
// request is handed to the collector on the same thread.
thread_local std::optional<Clock::time_point> requestArrival;
std::atomic<std::size_t> begun{0};

int noteArrival(mg_connection*) {
    requestArrival = Clock::now();
    begun.fetch_add(1, std::memory_order_relaxed);
    return 0; // the server goes on to handle the request
}

class SnapshotCollectable final : public prometheus::Collectable {
public:
    explicit SnapshotCollectable(std::shared_ptr<SharedSnapshot> snapshots)
        : snapshots_(std::move(snapshots)) {}

    std::vector<prometheus::MetricFamily> Collect() const override {
        const auto start = Clock::now();
        const auto fetched = snapshots_->get(requestArrival.value_or(start));
        requestArrival.reset();
        const std::chrono::duration<double> took = Clock::now() - start;
        return metricFamilies(fetched->snapshot ? &*fetched->snapshot : nullptr, took.count());
    }

private:
    std::shared_ptr<SharedSnapshot> snapshots_;
};

} // namespace

std::unique_ptr<MetricsExporter> MetricsExporter::start(const ListenAddress& address,
                                                        SharedSnapshot::Fetch fetch,
                                                        std::string& problem) {
    std::unique_ptr<MetricsExporter> exporter(new MetricsExporter());
    exporter->snapshots_ = std::make_shared<SharedSnapshot>(std::move(fetch));
    exporter->collectable_ = std::make_shared<SnapshotCollectable>(exporter->snapshots_);
    exporter->callbacks_ = std::make_unique<CivetCallbacks>();
    exporter->callbacks_->begin_request = noteArrival;
    try {
        exporter->exposer_ = std::make_unique<prometheus::Exposer>(
            // Without keep-alive the server closes each connection but does not say so, and a
            // client that reuses it fails its next request. The answer goes out in several
            // writes; without TCP_NODELAY each kept connection waits for a delayed ACK.
            std::vector<std::string>{"listening_ports", address.text(), "num_threads",
                                     std::to_string(workers), "enable_keep_alive", "yes",
                                     "tcp_nodelay", "1"},
            exporter->callbacks_.get());
        exporter->exposer_->RegisterCollectable(exporter->collectable_);
    } catch (const std::exception& error) {
        problem = error.what();
        return nullptr;
    }
    return exporter;
}

MetricsExporter::~MetricsExporter() = default;

std::size_t MetricsExporter::requestsBegun() {
    return begun.load(std::memory_order_relaxed);
}

int MetricsExporter::port() const {
    const auto ports = exposer_->GetListeningPorts();
    return ports.empty() ? 0 : ports.front();
}

} // namespace brivane::cli
