#include "metrics_exporter.h"

#include "sensors-common/metrics_text.h"

#include <algorithm>
#include <chrono>
#include <civetweb.h>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/resource.h>
#include <vector>

namespace brivane::cli {
namespace {

constexpr std::string_view landingPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Brivane sensor readings</title>"
    "</head>\n<body><h1>Brivane sensor readings</h1>\n<p>This user's sensor readings in the "
    "Prometheus text format: <a href=\"/metrics\">/metrics</a>.</p></body></html>\n";

// Whether the server keeps the connection after this answer, as it decides: keep-alive is on,
// and the request asks for it (HTTP/1.0) or does not refuse it (HTTP/1.1).
bool keptAlive(const mg_request_info& request) {
    const char* connection = nullptr;
    for (int i = 0; i < request.num_headers && !connection; ++i) {
        if (mg_strcasecmp(request.http_headers[i].name, "Connection") == 0) {
            connection = request.http_headers[i].value;
        }
    }
    if (!connection) {
        return request.http_version && std::string_view(request.http_version) == "1.1";
    }
    std::string_view options = connection;
    while (!options.empty()) {
        const auto comma = options.find(',');
        std::string_view option = options.substr(0, comma);
        option.remove_prefix(std::min(option.find_first_not_of(' '), option.size()));
        option = option.substr(0, option.find_last_not_of(' ') + 1);
        if (option.size() == 10 && mg_strncasecmp(option.data(), "keep-alive", 10) == 0) {
            return true;
        }
        options = comma == std::string_view::npos ? "" : options.substr(comma + 1);
    }
    return false;
}

const char* reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    default:
        return "Method Not Allowed";
    }
}

// The whole answer in one write: written in two, the header wakes the client, which then waits
// for the body, at the price of two more context switches a scrape.
void respond(mg_connection* connection, int status, const char* type, std::string_view body,
             bool head) {
    const auto& request = *mg_get_request_info(connection);
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    std::string out;
    out.reserve(body.size() + 256);
    out.append("HTTP/")
        .append(request.http_version ? request.http_version : "1.1")
        .append(" ")
        .append(std::to_string(status))
        .append(" ")
        .append(reason(status))
        .append("\r\nContent-Type: ")
        .append(type)
        .append("\r\nContent-Length: ")
        .append(std::to_string(body.size()));
    if (status == 405) {
        out.append("\r\nAllow: GET, HEAD");
    }
    out.append("\r\nDate: ")
        .append(date)
        .append(keptAlive(request) ? "\r\nConnection: keep-alive\r\n\r\n"
                                   : "\r\nConnection: close\r\n\r\n");
    if (!head) {
        out.append(body);
    }
    mg_write(connection, out.data(), out.size());
}

// The path with its %XX escapes decoded, or nothing when it holds a NUL: the server's own
// decoding would end the path there, serving "/metrics%00x" as "/metrics".
std::optional<std::string> decodedPath(const char* raw) {
    const std::string_view text = raw ? raw : "";
    std::string path(text.size() + 1, '\0');
    const int length = mg_url_decode(text.data(), static_cast<int>(text.size()), path.data(),
                                     static_cast<int>(path.size()), 0);
    if (length < 0 || path.find('\0') < static_cast<std::size_t>(length)) {
        return std::nullopt;
    }
    path.resize(static_cast<std::size_t>(length));
    return path;
}

// Whether the body's length is told once, one way. Told twice, or both by Content-Length and
// by Transfer-Encoding, a proxy in front may read it otherwise than the server does and take
// what follows for a request of its own.
bool lengthUnambiguous(const mg_request_info& request) {
    int lengths = 0;
    bool encoded = false;
    for (int i = 0; i < request.num_headers; ++i) {
        const char* name = request.http_headers[i].name;
        lengths += mg_strcasecmp(name, "Content-Length") == 0;
        encoded = encoded || mg_strcasecmp(name, "Transfer-Encoding") == 0;
    }
    return lengths <= 1 && !(lengths == 1 && encoded);
}

// Descriptors this process may still open.
long freeDescriptors() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    std::error_code error;
    const std::filesystem::directory_iterator open("/proc/self/fd", error);
    const long used = error ? 0 : std::distance(open, std::filesystem::directory_iterator());
    const rlim_t most = std::min<rlim_t>(limit.rlim_cur, 1 << 20);
    return static_cast<long>(most) - used;
}

} // namespace

MetricsExporter::Capacity MetricsExporter::capacityFor(long freeDescriptors) {
    // One more than the workers and the queue: the connection the server holds while the queue
    // is full.
    const long room = freeDescriptors - reservedDescriptors - 1;
    const long queued = std::clamp<long>(room / 8, 1, mostQueued);
    return {static_cast<int>(std::clamp<long>(room - queued, 1, mostWorkers)),
            static_cast<int>(queued)};
}

int MetricsExporter::serve(mg_connection* connection, void* exporter) {
    const auto* request = mg_get_request_info(connection);
    const auto decoded = decodedPath(request->local_uri);
    if (!decoded || !lengthUnambiguous(*request)) {
        // Also closes the connection, so nothing after a doubtful request is read as another.
        mg_send_http_error(connection, 400, "%s", "Malformed request.\n");
        return 400;
    }
    const std::string_view method = request->request_method;
    const std::string_view path = *decoded;
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
    const auto capacity = capacityFor(freeDescriptors());
    const std::string settings[] = {
        "listening_ports", ports, "num_threads", number(capacity.workers), "request_timeout_ms",
        number(headerDeadlineMs), "keep_alive_timeout_ms", number(headerDeadlineMs),
        "connection_queue", number(capacity.queued), "listen_backlog", number(backlog),
        // Paths are decoded by serve, which refuses a NUL in them.
        "decode_url", "no",
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
    // Every path is open to whoever reaches the port. Without a handler of its own the server
    // looks for a password file at the file system's root on every request, a file whose
    // appearance would lock the scrapers out.
    mg_set_auth_handler(
        exporter->server_, "/", [](mg_connection*, void*) { return 1; }, nullptr);
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
