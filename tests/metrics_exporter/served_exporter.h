#pragma once

#include "e2e/http_get.h"
#include "formats/document_codec.h"
#include "metrics-exporter/metrics_exporter.h"

#include <chrono>
#include <gtest/gtest.h>

namespace brivane::testing {

inline std::string snapshotNaming(const std::string& accessory) {
    SensorSnapshot snapshot;
    snapshot.accessories = {{{accessory, std::nullopt, 0.5}}};
    return encode(snapshot);
}

// An exporter on a free port of address in front of the agent at endpoint.
struct ServedExporter {
    explicit ServedExporter(const std::string& endpoint, int timeoutMs = 5000,
                            cli::WebConfig web = {}, const std::string& address = "127.0.0.1:0") {
        auto agent = std::make_shared<cli::AgentSnapshots>(endpoint, timeoutMs);
        std::string problem;
        exporter = cli::MetricsExporter::start({{*cli::parseListenAddress(address)},
                                                [agent] { return agent->fetch(); },
                                                std::move(web)},
                                               problem);
        EXPECT_TRUE(exporter) << problem;
        host = address.substr(0, address.rfind(':'));
    }
    std::string url(const std::string& path = "/metrics", const char* scheme = "http") const {
        return std::string(scheme) + "://" + host + ":" + std::to_string(exporter->port()) + path;
    }
    std::string scrape() const { return httpGet(url()); }
    // The time a scrape took, after checking its answer.
    std::chrono::milliseconds timedScrape(std::string_view expected) const {
        const auto start = std::chrono::steady_clock::now();
        const auto body = scrape();
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_NE(body.find(expected), std::string::npos) << body;
        return std::chrono::duration_cast<std::chrono::milliseconds>(took);
    }
    std::unique_ptr<cli::MetricsExporter> exporter;
    std::string host;
};

} // namespace brivane::testing
