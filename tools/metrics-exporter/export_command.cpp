#include "export_command.h"

#include "metrics_exporter.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <pthread.h>
#include <sys/resource.h>

namespace brivane::cli {
namespace {

constexpr const char* defaultListenAddress = "127.0.0.1:9464";

// The server takes as many connections at once as it has descriptors for, and the usual soft
// limit (1024) is far below the hard one. Where raising is not allowed it sizes to what there is.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

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

    raiseDescriptorLimit();
    auto agent = std::make_shared<AgentSnapshots>(AgentConnection(options), true);
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
        // The server library says only that it could not set up its ports; binding once more
        // tells why. Another user's exporter on the port will not go away by restarting.
        const int error = bindError(*address);
        if (error == EADDRINUSE) {
            std::cerr << "brivane-sensors: port " << address->port
                      << " is in use (by another user's exporter?); pass --listen\n";
            return addressInUse;
        }
        std::cerr << "brivane-sensors: cannot listen on " << address->text() << ": "
                  << (error != 0 ? std::strerror(error) : problem) << "\n";
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

} // namespace brivane::cli
