#include "metrics_exporter.h"

#include "metrics_text.h"

#include <arpa/inet.h>
#include <charconv>
#include <chrono>
#include <exception>
#include <prometheus/collectable.h>
#include <prometheus/exposer.h>

namespace brivane::cli {

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string host(text.substr(0, colon));
    const auto portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() ||
        port > 65535) {
        return std::nullopt;
    }
    ListenAddress address;
    address.port = static_cast<std::uint16_t>(port);
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        in6_addr v6{};
        if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) != 1) {
            return std::nullopt;
        }
        address.loopback = IN6_IS_ADDR_LOOPBACK(&v6);
    } else {
        in_addr v4{};
        if (inet_pton(AF_INET, host.c_str(), &v4) != 1) {
            return std::nullopt;
        }
        address.loopback = (ntohl(v4.s_addr) >> 24) == 127;
    }
    address.host = std::move(host);
    return address;
}

class SnapshotCollectable final : public prometheus::Collectable {
public:
    explicit SnapshotCollectable(std::shared_ptr<SharedSnapshot> snapshots)
        : snapshots_(std::move(snapshots)) {}

    std::vector<prometheus::MetricFamily> Collect() const override {
        const auto start = std::chrono::steady_clock::now();
        const auto fetched = snapshots_->get();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        return metricFamilies(fetched->snapshot ? &*fetched->snapshot : nullptr, took.count());
    }

private:
    std::shared_ptr<SharedSnapshot> snapshots_;
};

std::unique_ptr<MetricsExporter> MetricsExporter::start(const ListenAddress& address,
                                                        SharedSnapshot::Fetch fetch,
                                                        std::string& problem) {
    std::unique_ptr<MetricsExporter> exporter(new MetricsExporter());
    exporter->snapshots_ = std::make_shared<SharedSnapshot>(std::move(fetch));
    exporter->collectable_ = std::make_shared<SnapshotCollectable>(exporter->snapshots_);
    try {
        exporter->exposer_ = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
            "listening_ports", address.text(), "num_threads", std::to_string(workers)});
        exporter->exposer_->RegisterCollectable(exporter->collectable_);
    } catch (const std::exception& error) {
        problem = error.what();
        return nullptr;
    }
    return exporter;
}

MetricsExporter::~MetricsExporter() = default;

int MetricsExporter::port() const {
    const auto ports = exposer_->GetListeningPorts();
    return ports.empty() ? 0 : ports.front();
}

} // namespace brivane::cli
