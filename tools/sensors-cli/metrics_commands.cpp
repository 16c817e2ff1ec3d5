#include "metrics_commands.h"

#include "metrics_exporter.h"
#include "metrics_text.h"
#include "platform/host/replaced_file.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>

namespace brivane::cli {
namespace {

constexpr const char* defaultListenAddress = "127.0.0.1:9464";

int runMetrics(const CliOptions& options) {
    AgentSnapshots agent{AgentConnection(options)};
    const auto start = std::chrono::steady_clock::now();
    const auto fetched = agent.fetch();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const auto text =
        exposition(metricFamilies(fetched.snapshot ? &*fetched.snapshot : nullptr, took.count()));

    if (options.output) {
        std::string problem;
        if (!writeFileAtomically(*options.output, text, problem)) {
            std::cerr << "brivane-sensors: cannot write " << *options.output << ": " << problem
                      << "\n";
            return notWritten;
        }
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0) {
            return notWritten;
        }
    }
    if (fetched.status != answered) {
        std::cerr << "brivane-sensors: " << fetched.problem << "\n";
    }
    return fetched.status;
}

int runExport(const CliOptions& options) {
    const std::string wanted = options.listen.value_or(defaultListenAddress);
    const auto address = parseListenAddress(wanted);
    if (!address) {
        std::cerr << "brivane-sensors: --listen needs IPV4:PORT or localhost:PORT, not " << wanted
                  << "\n";
        return usage;
    }
    // Blocked before the server starts its threads, so only sigwait below takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    auto agent = std::make_shared<AgentSnapshots>(AgentConnection(options));
    // Called one at a time; logs changes only, not every failed scrape.
    auto fetch = [agent, lastProblem = std::string()]() mutable {
        auto fetched = agent->fetch();
        if (fetched.problem != lastProblem) {
            std::cerr << "brivane-sensors: "
                      << (fetched.problem.empty() ? "the agent answers again" : fetched.problem)
                      << "\n";
            lastProblem = fetched.problem;
        }
        return fetched;
    };
    std::string problem;
    auto exporter = MetricsExporter::start(*address, fetch, problem);
    if (!exporter) {
        std::cerr << "brivane-sensors: cannot listen on " << address->text() << ": " << problem
                  << "\n";
        return unreachable;
    }
    const std::string served = address->host + ":" + std::to_string(exporter->port());
    if (!address->loopback) {
        std::cerr << "brivane-sensors: every host that reaches " << served
                  << " can read this machine's sensor readings\n";
    }
    std::cerr << "brivane-sensors: serving http://" << served << "/metrics\n";
    int signal = 0;
    sigwait(&stop, &signal);
    return answered;
}

} // namespace

int runMetricsRequest(const CliOptions& options) {
    return options.action == CliOptions::Action::exportMetrics ? runExport(options)
                                                               : runMetrics(options);
}

bool writeFileAtomically(const std::string& path, std::string_view text, std::string& problem) {
    // Readable by everyone: a collector running under another user must read it.
    if (auto failure = platform::host::replaceFile(path, text, 0644)) {
        problem = std::move(*failure);
        return false;
    }
    return true;
}

} // namespace brivane::cli
