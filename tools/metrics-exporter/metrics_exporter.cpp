#include "metrics_exporter.h"

#include "metrics_text.h"

#include <chrono>
#include <civetweb.h>
#include <string_view>
#include <vector>

namespace brivane::cli {
namespace {

constexpr std::string_view landingPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Brivane sensor readings</title>"
    "</head>\n<body><h1>Brivane sensor readings</h1>\n<p>This user's sensor readings in the "
    "Prometheus text format: <a href=\"/metrics\">/metrics</a>.</p></body></html>\n";

void respond(mg_connection* connection, int status, const char* type, std::string_view body,
             bool head) {
    mg_response_header_start(connection, status);
    mg_response_header_add(connection, "Content-Type", type, -1);
    mg_response_header_add(connection, "Content-Length", std::to_string(body.size()).c_str(), -1);
    if (status == 405) {
        mg_response_header_add(connection, "Allow", "GET, HEAD", -1);
    }
    mg_response_header_send(connection);
    if (!head) {
        mg_write(connection, body.data(), body.size());
    }
}

} // namespace

int MetricsExporter::serve(mg_connection* connection, void* exporter) {
    const auto* request = mg_get_request_info(connection);
    const std::string_view method = request->request_method;
    const std::string_view path = request->local_uri ? request->local_uri : "";
    const bool head = method == "HEAD";
    if (!head && method != "GET") {
        respond(connection, 405, "text/plain; charset=utf-8", "Only GET and HEAD are served.\n",
                false);
    } else if (path == "/metrics") {
        const auto start = SharedSnapshot::Clock::now();
        const auto fetched = static_cast<MetricsExporter*>(exporter)->snapshots_->get();
        const std::chrono::duration<double> took = SharedSnapshot::Clock::now() - start;
        respond(connection, 200, "text/plain; version=0.0.4; charset=utf-8",
                exposition(metricFamilies(fetched->snapshot ? &*fetched->snapshot : nullptr,
                                          took.count(), fetched->busiest)),
                head);
    } else if (path == "/") {
        respond(connection, 200, "text/html; charset=utf-8", landingPage, head);
    } else {
        respond(connection, 404, "text/plain; charset=utf-8", "Not found; see /metrics.\n", head);
    }
    return 1; // answered
}

std::unique_ptr<MetricsExporter> MetricsExporter::start(const ListenAddress& address,
                                                        SharedSnapshot::Fetch fetch,
                                                        std::string& problem) {
    std::unique_ptr<MetricsExporter> exporter(new MetricsExporter());
    exporter->snapshots_ = std::make_shared<SharedSnapshot>(std::move(fetch));
    const std::string ports = address.text();
    const auto number = [](int value) { return std::to_string(value); };
    const std::string settings[] = {
        "listening_ports", ports, "num_threads", number(workers), "request_timeout_ms",
        number(requestTimeoutMs), "keep_alive_timeout_ms", number(idleTimeoutMs),
        "connection_queue", number(queued), "listen_backlog", number(backlog),
        // Without keep-alive the server closes each connection but does not say so, and a
        // client that reuses it fails its next request. The answer goes out in several writes;
        // without TCP_NODELAY each kept connection waits for a delayed ACK.
        "enable_keep_alive", "yes", "tcp_nodelay", "1"};
    std::vector<const char*> options;
    for (const auto& setting : settings) {
        options.push_back(setting.c_str());
    }
    options.push_back(nullptr);
    mg_callbacks callbacks{};
    mg_init_data init{&callbacks, nullptr, options.data()};
    unsigned code = 0;
    char text[256] = "";
    mg_error_data error{&code, text, sizeof text};
    exporter->server_ = mg_start2(&init, &error);
    if (!exporter->server_) {
        problem = text[0] ? text : "the server did not start";
        return nullptr;
    }
    mg_set_request_handler(exporter->server_, "/", &MetricsExporter::serve, exporter.get());
    return exporter;
}

MetricsExporter::~MetricsExporter() {
    if (server_) {
        mg_stop(server_);
    }
}

int MetricsExporter::port() const {
    mg_server_port ports[4];
    const int count = mg_get_server_ports(server_, 4, ports);
    return count > 0 ? ports[0].port : 0;
}

} // namespace brivane::cli
