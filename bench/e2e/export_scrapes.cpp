#include "export_scrapes.h"

#include "metrics-exporter/metrics_exporter.h"

#include <algorithm>
#include <chrono>
#include <curl/curl.h>
#include <memory>
#include <vector>

namespace brivane::bench {

ScrapeLatencies measureScrapes(const std::string& endpoint, std::size_t scrapes) {
    ScrapeLatencies result;
    auto agent = std::make_shared<cli::AgentSnapshots>(endpoint, 10000);
    std::string problem;
    const auto exporter = cli::MetricsExporter::start(
        {{*cli::parseListenAddress("127.0.0.1:0")}, [agent] { return agent->fetch(); }, {}},
        problem);
    const std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!exporter || !curl) {
        result.failures = scrapes;
        return result;
    }
    std::string body;
    auto append = +[](char* data, std::size_t size, std::size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    };
    const std::string url = "http://127.0.0.1:" + std::to_string(exporter->port()) + "/metrics";
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");

    std::vector<double> latencies;
    latencies.reserve(scrapes);
    for (std::size_t i = 0; i < scrapes; ++i) {
        body.clear();
        const auto start = std::chrono::steady_clock::now();
        const bool served = curl_easy_perform(curl.get()) == CURLE_OK;
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        if (!served || body.find("\nbrivane_up 1\n") == std::string::npos) {
            ++result.failures;
            continue;
        }
        latencies.push_back(took.count());
    }
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        result.p50Us = latencies[latencies.size() / 2];
        result.p99Us = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    }
    return result;
}

} // namespace brivane::bench
