// Snapshot latency through the agent's socket, against an echo server with the same framing,
// and the agent's resident memory over many snapshots.
//
//   ipc_e2e_latency [--agent EXECUTABLE] [--team ID] [--requests N] [--memory-snapshots N]
//                   [--scrapes N]
//
// Without --agent only the echo baseline is measured.

#include "echo_server.h"
#include "export_scrapes.h"
#include "identity/sensor_companion_identity.h"
#include "ipc/sensor_client.h"
#include "support/staged_agent.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using brivane::ipc::Selector;
using brivane::ipc::SensorClient;
using Clock = std::chrono::steady_clock;

struct Latencies {
    double p50Us = 0;
    double p99Us = 0;
    std::size_t failures = 0;
};

// requests split evenly over clients, each client on its own thread and connection.
Latencies measure(const std::string& path, std::size_t clients, std::size_t requests) {
    std::vector<std::vector<double>> perClient(clients);
    std::vector<std::size_t> failures(clients, 0);
    std::vector<std::thread> threads;
    for (std::size_t c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::string problem;
            auto client = SensorClient::connect(path, problem);
            const std::size_t mine = requests / clients + (c < requests % clients ? 1 : 0);
            perClient[c].reserve(mine);
            for (std::size_t i = 0; i < mine; ++i) {
                if (!client) {
                    ++failures[c];
                    continue;
                }
                const auto start = Clock::now();
                const auto outcome = client->call(Selector::snapshot, std::nullopt, 10000);
                const auto elapsed =
                    std::chrono::duration<double, std::micro>(Clock::now() - start);
                if (outcome.status != SensorClient::Status::replied || !outcome.reply.document) {
                    ++failures[c];
                    continue;
                }
                perClient[c].push_back(elapsed.count());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::vector<double> all;
    Latencies result;
    for (std::size_t c = 0; c < clients; ++c) {
        all.insert(all.end(), perClient[c].begin(), perClient[c].end());
        result.failures += failures[c];
    }
    if (all.empty()) {
        return result;
    }
    std::sort(all.begin(), all.end());
    result.p50Us = all[all.size() / 2];
    result.p99Us = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    return result;
}

std::string argumentAfter(int argc, char** argv, const char* name, std::string fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == name) {
            return argv[i + 1];
        }
    }
    return fallback;
}

// The agent takes the endpoint from its runtime directory; give it a private one.
std::string makeRuntimeDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brivane-e2e-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        return {};
    }
    ::chmod(pattern.c_str(), 0700);
    return pattern;
}

// Resident set size in KiB from /proc/<pid>/status.
std::optional<long> residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return std::nullopt;
}

void report(const char* what, std::size_t clients, const Latencies& latencies) {
    std::printf("  %-9s %2zu client%s  p50 %8.1f us  p99 %8.1f us  failures %zu\n", what, clients,
                clients == 1 ? " " : "s", latencies.p50Us, latencies.p99Us, latencies.failures);
}

} // namespace

int main(int argc, char** argv) {
    const std::string agent = argumentAfter(argc, argv, "--agent", "");
    const std::string team = argumentAfter(argc, argv, "--team", BRIVANE_TEAM_ID);
    const std::size_t requests = std::stoul(argumentAfter(argc, argv, "--requests", "10000"));
    const std::size_t memorySnapshots =
        std::stoul(argumentAfter(argc, argv, "--memory-snapshots", "100000"));
    const std::size_t scrapes = std::stoul(argumentAfter(argc, argv, "--scrapes", "1000"));

    const std::string runtime = makeRuntimeDirectory();
    if (runtime.empty()) {
        std::fprintf(stderr, "cannot create a runtime directory\n");
        return 1;
    }
    int status = 0;
    {
        // A document of a typical snapshot's size, so both sides move the same bytes.
        std::string document(2048, ' ');
        brivane::bench::EchoServer echo(runtime + "/echo", document);
        std::printf("round trips over %zu requests\n", requests);
        Latencies echoOne = measure(echo.path(), 1, requests);
        Latencies echoEight = measure(echo.path(), 8, requests);
        report("echo", 1, echoOne);
        report("echo", 8, echoEight);

        if (!agent.empty()) {
            const std::string endpoint =
                runtime + "/" + brivane::identity::SensorCompanionIdentity::service(team);
            const char* path = std::getenv("PATH");
            brivane::testing::ChildProcess process(
                {agent, "--agent"},
                {"XDG_RUNTIME_DIR=" + runtime, "HOME=" + runtime,
                 std::string("PATH=") + (path ? path : "/usr/bin:/bin")},
                "/dev/null");
            if (!process.started() ||
                !brivane::testing::waitForEndpoint(endpoint, std::chrono::seconds(10), &process)) {
                std::fprintf(stderr, "the agent did not start serving %s\n", endpoint.c_str());
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const auto idle = residentKiB(process.pid());

            // The first snapshot discovers the keys; the first thousand settle the allocator.
            measure(endpoint, 1, 1000);
            const auto after1k = residentKiB(process.pid());
            Latencies one = measure(endpoint, 1, requests);
            Latencies eight = measure(endpoint, 8, requests);
            report("snapshot", 1, one);
            report("snapshot", 8, eight);
            const double ratio = echoOne.p50Us > 0 ? one.p50Us / echoOne.p50Us : 0;
            std::printf("  snapshot p50 / echo p50 (1 client): %.2f (target at most 3)\n", ratio);

            // The metrics exporter's scrapes beside as many snapshot round trips.
            const Latencies direct = measure(endpoint, 1, scrapes);
            const auto scraped = brivane::bench::measureScrapes(endpoint, scrapes);
            std::printf("metrics exporter over %zu scrapes\n", scrapes);
            report("snapshot", 1, direct);
            report("scrape", 1, {scraped.p50Us, scraped.p99Us, scraped.failures});
            std::printf("  exporter adds at p50: %.1f us (target at most 1000)\n",
                        scraped.p50Us - direct.p50Us);

            const std::size_t done = 1000 + 2 * requests + 2 * scrapes;
            if (memorySnapshots > done) {
                measure(endpoint, 8, memorySnapshots - done);
            }
            const auto afterAll = residentKiB(process.pid());
            std::printf("agent resident memory\n");
            std::printf("  idle                  %6ld KiB\n", idle.value_or(-1));
            std::printf("  after %6d snapshots %6ld KiB\n", 1000, after1k.value_or(-1));
            std::printf("  after %6zu snapshots %6ld KiB\n", std::max(memorySnapshots, done),
                        afterAll.value_or(-1));
            if (after1k && afterAll && *after1k > 0) {
                const double growth = 100.0 * (*afterAll - *after1k) / *after1k;
                std::printf("  growth %.1f %% (target at most 10 %%)\n", growth);
                status = growth > 10 ? 3 : 0;
            }
            if (one.failures + eight.failures + direct.failures + scraped.failures > 0 ||
                !process.running()) {
                std::fprintf(stderr, "requests failed or the agent died\n");
                status = 1;
            }
        }
    }
    std::filesystem::remove_all(runtime);
    return status;
}
