#pragma once

#include <cstddef>
#include <string>

namespace brivane::bench {

struct ScrapeLatencies {
    double p50Us = 0;
    double p99Us = 0;
    std::size_t failures = 0;
};

// Scrapes of /metrics, one after another, from an exporter started in this process on a
// loopback port in front of the agent at endpoint.
ScrapeLatencies measureScrapes(const std::string& endpoint, std::size_t scrapes);

} // namespace brivane::bench
