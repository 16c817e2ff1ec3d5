// The exporter's resident memory in front of an agent over the watched fixture machine: idle,
// after 20,000 requests (every tenth on a new connection) and while 600 connections are held
// (two in three idle, one in three trickling a request header), first over HTTP and then with
// TLS configured (held TLS connections have finished their handshake). Prints VmRSS in KiB and
// the cost of a held connection against the targets: 8 MiB without TLS throughout, 12 MiB idle
// with TLS and 24 KiB per held TLS connection.
//
//   exporter_footprint            (as root; bench/exporter_footprint/run)

#include "../watched_machine.h"
#include "metrics_exporter/secure_client.h"
#include "support/staged_agent.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using brivane::testing::StagedAgent;
using namespace std::chrono_literals;

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    long kib = -1;
    while (status >> word) {
        if (word == "VmRSS:") {
            status >> kib;
        }
    }
    return kib;
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    ::close(fd);
    if (!bound) {
        std::fprintf(stderr, "exporter_footprint: no free loopback port\n");
        std::exit(1);
    }
    return ntohs(address.sin_port);
}

// A connection to the exporter, with its TLS session when it speaks TLS.
struct Held {
    int fd = -1;
    SSL* ssl = nullptr;
    ~Held() {
        if (ssl) {
            SSL_free(ssl);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

std::unique_ptr<Held> connectTo(int port, SSL_CTX* tls) {
    auto held = std::make_unique<Held>();
    held->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address{
        AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(held->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return nullptr;
    }
    if (tls) {
        held->ssl = SSL_new(tls);
        SSL_set_fd(held->ssl, held->fd);
        if (SSL_connect(held->ssl) != 1) {
            return nullptr;
        }
    }
    return held;
}

struct Footprint {
    long idle = 0, afterRequests = 0, held = 0;
    int failures = 0;
};

Footprint measure(StagedAgent& staged, bool withTls, const std::string& folder) {
    const int port = freePort();
    std::vector<std::string> argv = {staged.path("brivane-sensors-export"),
                                     "export",
                                     "--endpoint",
                                     staged.endpoint(),
                                     "--listen",
                                     "127.0.0.1:" + std::to_string(port)};
    if (withTls) {
        std::ofstream(folder + "/web.yml")
            << "tls_server_config:\n  cert_file: server.pem\n  key_file: server.key\n";
        argv.insert(argv.end(), {"--web.config.file", folder + "/web.yml"});
    }
    const pid_t exporter = staged.launch(argv).pid();
    const std::string url = std::string(withTls ? "https" : "http") +
                            "://127.0.0.1:" + std::to_string(port) + "/metrics";
    const brivane::testing::FetchOptions options{withTls ? folder + "/ca.pem" : ""};
    Footprint footprint;
    if (!brivane::testing::pollUntil(10s, [&] {
            return brivane::testing::fetch(url, options).body.find("\nbrivane_up 1\n") !=
                   std::string::npos;
        })) {
        std::fprintf(stderr, "the exporter did not answer\n");
        footprint.failures = 1;
        return footprint;
    }
    std::this_thread::sleep_for(1s);
    footprint.idle = residentKiB(exporter);

    // 20,000 requests: 2,000 connections of ten requests each.
    const std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    std::string body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(
        curl.get(), CURLOPT_WRITEFUNCTION,
        +[](char*, std::size_t size, std::size_t count, void*) { return size * count; });
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    if (withTls) {
        curl_easy_setopt(curl.get(), CURLOPT_CAINFO, options.caFile.c_str());
    }
    for (int request = 0; request < 20000; ++request) {
        curl_easy_setopt(curl.get(), CURLOPT_FRESH_CONNECT, request % 10 == 0 ? 1L : 0L);
        footprint.failures += curl_easy_perform(curl.get()) != CURLE_OK;
    }
    std::this_thread::sleep_for(1s);
    footprint.afterRequests = residentKiB(exporter);

    // 600 held at once, inside the 2 s each has to send its header.
    const std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_client_method()),
                                                               SSL_CTX_free);
    std::vector<std::unique_ptr<Held>> held(600);
    std::vector<std::thread> openers;
    for (int part = 0; part < 4; ++part) {
        openers.emplace_back([&, part] {
            for (int i = part; i < 600; i += 4) {
                held[i] = connectTo(port, withTls ? context.get() : nullptr);
                if (held[i] && i % 3 == 0) {
                    constexpr std::string_view opening = "GET /metrics HTTP/1.1\r\nHo";
                    if (held[i]->ssl) {
                        SSL_write(held[i]->ssl, opening.data(), opening.size());
                    } else {
                        ::send(held[i]->fd, opening.data(), opening.size(), MSG_NOSIGNAL);
                    }
                }
            }
        });
    }
    for (auto& opener : openers) {
        opener.join();
    }
    std::this_thread::sleep_for(200ms);
    footprint.held = residentKiB(exporter);
    for (const auto& connection : held) {
        footprint.failures += !connection;
    }
    ::kill(exporter, SIGTERM);
    return footprint;
}

} // namespace

int main() {
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    StagedAgent staged(
        {.bundle = BRIVANE_LINUX_BUNDLE, .executables = {BRIVANE_EXPORTER}, .bindSys = true});
    brivane::bench::addWatchedMachine(staged.sysTree());
    if (!staged.startAgent()) {
        std::fprintf(stderr, "the agent did not start\n");
        return 1;
    }
    brivane::testing::TempDir certificates("brivane-footprint");
    ::chmod(certificates.path().c_str(), 0755);
    if (!brivane::testing::makeTestCertificates(certificates) ||
        std::system(("chmod 0644 " + certificates.path() + "/*").c_str()) != 0) {
        std::fprintf(stderr, "no test certificates\n");
        return 1;
    }
    bool withinTargets = true;
    for (const bool withTls : {false, true}) {
        const auto footprint = measure(staged, withTls, certificates.path());
        const double perConnection = (footprint.held - footprint.afterRequests) / 600.0;
        std::printf("%s: idle %ld KiB, after 20,000 requests %ld KiB, 600 held %ld KiB "
                    "(%.1f KiB each), %d failures\n",
                    withTls ? "with TLS" : "without TLS", footprint.idle, footprint.afterRequests,
                    footprint.held, perConnection, footprint.failures);
        withinTargets =
            withinTargets && footprint.failures == 0 &&
            (withTls
                 ? footprint.idle <= 12 * 1024 && perConnection <= 24
                 : std::max({footprint.idle, footprint.afterRequests, footprint.held}) <= 8 * 1024);
    }
    std::printf("targets (8 MiB without TLS; 12 MiB idle and 24 KiB a connection with TLS): %s\n",
                withinTargets ? "met" : "MISSED");
    return withinTargets ? 0 : 1;
}
