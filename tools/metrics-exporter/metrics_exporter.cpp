#include "metrics_exporter.h"

#include "backends/posix/system/epoll_event_loop.h"
#include "base/error_text.h"
#include "base/main_queue.h"
#include "base/serial_queue.h"
#include "http_server.h"
#include "password_check.h"
#include "sensors-common/scrape_families.h"
#include "tls_context.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <netinet/in.h>
#include <sys/resource.h>

namespace brivane::cli {
namespace {

constexpr std::string_view metricsType = "text/plain; version=0.0.4; charset=utf-8";
constexpr std::string_view textType = "text/plain; charset=utf-8";

std::shared_ptr<const std::string> text(std::string_view content) {
    return std::make_shared<const std::string>(content);
}

const auto landingPage =
    text("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Brivane sensor readings"
         "</title></head>\n<body><h1>Brivane sensor readings</h1>\n<p>This user's sensor "
         "readings in the Prometheus text format: <a href=\"/metrics\">/metrics</a>.</p></body>"
         "</html>\n");
const auto notFound = text("Not found; see /metrics.\n");
const auto notAllowed = text("Only GET and HEAD are served.\n");
const auto unauthorized = text("Unauthorized\n");
const auto busy = text("Too many password checks at once; try again.\n");

// The text of one scrape, from what the fetch gave and the time it took.
std::shared_ptr<const std::string> scrapeText(const MetricsExporter::Fetch& fetch) {
    const auto start = std::chrono::steady_clock::now();
    FetchedSnapshot fetched;
    try {
        fetched = fetch();
    } catch (const std::exception& error) {
        fetched = {std::nullopt, unreachable, error.what()};
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return std::make_shared<const std::string>(exposition(scrapeFamilies(fetched, took.count())));
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
    return static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 1 << 20)) - used;
}

int boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                     : reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

} // namespace

MetricsExporter::MetricsExporter()
    : loop_(std::make_unique<platform::posix::EpollEventLoop>()),
      inbox_(std::make_unique<base::MainQueue>()) {}

std::size_t MetricsExporter::capacityFor(long available) {
    return static_cast<std::size_t>(
        std::clamp<long>(available - reservedDescriptors, 1, static_cast<long>(mostConnections)));
}

std::unique_ptr<MetricsExporter> MetricsExporter::start(Settings settings, std::string& problem,
                                                        BindFailure* bindFailure) {
    std::unique_ptr<MetricsExporter> exporter(new MetricsExporter());
    std::shared_ptr<const TlsContext> tls;
    if (settings.web.tls && !(tls = TlsContext::make(*settings.web.tls, problem))) {
        return nullptr;
    }
    std::vector<platform::posix::FileDescriptor> listeners;
    for (const auto& address : settings.addresses) {
        platform::posix::FileDescriptor fd(listeningSocket(address, backlog));
        if (!fd.valid()) {
            if (bindFailure) {
                *bindFailure = {errno, listeners.size()};
            }
            problem = "cannot listen on " + address.text() + ": " + base::errorText(errno);
            return nullptr;
        }
        exporter->ports_.push_back(boundPort(fd.get()));
        listeners.push_back(std::move(fd));
    }
    auto* self = exporter.get();
    self->fetch_ = std::move(settings.fetch);
    self->web_ = std::make_shared<const WebConfig>(std::move(settings.web));
    HttpServer::Limits limits;
    limits.maxConnections = capacityFor(freeDescriptors());
    self->server_ = std::make_unique<HttpServer>(
        *self->loop_, std::move(listeners), limits,
        [self](HttpServer::Id id, const RequestHead& head) { self->onRequest(id, head); });
    self->server_->useTls(std::move(tls));
    self->inbox_->setWakeUp([loop = self->loop_.get()] { loop->wake(); });
    self->loop_->setWakeHandler([inbox = self->inbox_.get()] { inbox->drain(); });
    self->snapshots_ = std::make_unique<base::SerialQueue>("dev.qorva.brivane.export.snapshots");
    self->serving_ = std::thread([loop = self->loop_.get()] { loop->run(); });
    return exporter;
}

MetricsExporter::~MetricsExporter() {
    loop_->stop();
    if (serving_.joinable()) {
        serving_.join();
    }
    // Their last work may still post to the inbox, which nothing drains any more.
    snapshots_.reset();
    passwords_.reset();
    server_.reset();
}

bool MetricsExporter::reconfigure(const WebConfig& web, std::string& problem) {
    std::shared_ptr<const TlsContext> tls;
    if (web.tls && !(tls = TlsContext::make(*web.tls, problem))) {
        return false;
    }
    inbox_->async([this, web = std::make_shared<const WebConfig>(web), tls = std::move(tls)] {
        web_ = web;
        server_->useTls(tls);
    });
    return true;
}

void MetricsExporter::answer(std::uint64_t id, int status, std::string_view type,
                             std::shared_ptr<const std::string> body, bool close) {
    HttpAnswer answer{status, std::string(type), std::move(body), web_->headers, close};
    if (status == 401) {
        answer.headers.emplace_back("WWW-Authenticate", "Basic");
    } else if (status == 405) {
        answer.headers.emplace_back("Allow", "GET, HEAD");
    } else if (status == 503) {
        answer.headers.emplace_back("Retry-After", "1");
    }
    server_->answer(id, std::move(answer));
}

void MetricsExporter::onRequest(std::uint64_t id, const RequestHead& head) {
    if (web_->users.empty()) {
        route(id, head.method, head.path);
        return;
    }
    if (!passwords_) {
        passwords_ = std::make_unique<PasswordCheck>(
            [inbox = inbox_.get()](std::function<void()> task) { inbox->async(std::move(task)); });
    }
    const auto verdict = passwords_->check(
        web_->users, head.authorization.value_or(""),
        [this, id, method = head.method, path = head.path](bool admitted) {
            admitted ? route(id, method, path) : answer(id, 401, textType, unauthorized);
        });
    switch (verdict) {
    case PasswordCheck::Verdict::admitted:
        route(id, head.method, head.path);
        break;
    case PasswordCheck::Verdict::refused:
        answer(id, 401, textType, unauthorized);
        break;
    case PasswordCheck::Verdict::busy:
        answer(id, 503, textType, busy);
        break;
    case PasswordCheck::Verdict::pending:
        break;
    }
}

void MetricsExporter::route(std::uint64_t id, const std::string& method, const std::string& path) {
    if (method != "GET" && method != "HEAD") {
        answer(id, 405, textType, notAllowed);
    } else if (path == "/metrics") {
        scrape(id);
    } else if (path == "/") {
        answer(id, 200, "text/html; charset=utf-8", landingPage);
    } else {
        answer(id, 404, textType, notFound);
    }
}

void MetricsExporter::scrape(std::uint64_t id) {
    awaitingSnapshot_.push_back(id);
    if (fetching_) {
        return; // shares the answer of the request in flight
    }
    fetching_ = true;
    snapshots_->async([this] {
        auto body = scrapeText(fetch_);
        inbox_->async([this, body = std::move(body)] {
            fetching_ = false;
            for (const auto id : std::exchange(awaitingSnapshot_, {})) {
                answer(id, 200, metricsType, body);
            }
        });
    });
}

} // namespace brivane::cli
