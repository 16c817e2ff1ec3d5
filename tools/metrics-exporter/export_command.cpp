#include "export_command.h"

#include "metrics_exporter.h"
#include "process_owner.h"
#include "sensors-common/machine_collection.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <iostream>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brivane::cli {
namespace {

constexpr const char* defaultListenAddress = "127.0.0.1:9464";
constexpr const char* suggestedWebConfig = "~/.config/brivane-sensors/web-config.yml";

// The server takes as many connections at once as it has descriptors for, and the usual soft
// limit (1024) is far below the hard one. Where raising is not allowed it sizes to what there is.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void logLine(const std::string& text) {
    std::cerr << "brivane-sensors: " << text << "\n";
}

// One line for a listener that others can reach without both TLS and authentication.
void warnIfExposed(const std::vector<ListenAddress>& addresses, const WebConfig& web) {
    std::string exposed;
    for (const auto& address : addresses) {
        if (!address.loopback) {
            exposed += (exposed.empty() ? "" : ", ") + address.text();
        }
    }
    if (exposed.empty() || (web.tls && web.authenticates())) {
        return;
    }
    const char* missing = !web.tls && !web.authenticates() ? "without TLS or a password"
                          : !web.tls                       ? "without TLS (passwords in clear)"
                                                           : "without a password";
    logLine("every host that reaches " + exposed + " can read this machine's sensor readings, " +
            missing + ": write " + suggestedWebConfig +
            " (docs/metrics.md) and pass it with --web.config.file");
}

// The first check of the agent's signature maps megabytes of the cryptographic library's code
// that no later scrape uses. A short-lived child, forked before any thread starts, makes it and
// keeps its verdict (docs/security.md), so the exporter's own connection takes the kept verdict
// and stays small; where no verdict can be kept, the exporter checks in full itself. The child
// gets the agent's timeout and a second more, then it is killed.
void checkAgentFirst(const CliOptions& options) {
    const pid_t child = ::fork();
    if (child == 0) {
        AgentConnection(options).ask(ipc::Selector::snapshot, std::nullopt);
        ::_exit(0);
    }
    if (child < 0) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(options.timeoutMs) + std::chrono::seconds(1);
    while (::waitpid(child, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

int runExport(const CliOptions& options) {
    std::vector<ListenAddress> addresses;
    for (const auto& wanted :
         options.listen.empty() ? std::vector<std::string>{defaultListenAddress} : options.listen) {
        const auto address = parseListenAddress(wanted);
        if (!address) {
            logLine("--listen needs IPV4:PORT, [IPV6]:PORT or localhost:PORT, not " + wanted);
            return usage;
        }
        addresses.push_back(*address);
    }
    WebConfig web;
    if (options.webConfigFile) {
        auto loaded = loadWebConfig(*options.webConfigFile);
        if (!loaded.config) {
            logLine("cannot use the web configuration: " + loaded.problem);
            return usage;
        }
        web = std::move(*loaded.config);
    }
    checkAgentFirst(options);
    // Blocked before any thread starts, so only sigwait below takes them; a write to a closed
    // connection fails instead of ending the process.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    raiseDescriptorLimit();
    // Under the machine-wide service's account every process is another user's: unless asked
    // for them, its exporter ranks none (each user's own exporter serves the user's).
    const bool ranks = options.otherUsersProcesses || !machineCollectionAccount();
    auto agent = std::make_shared<AgentSnapshots>(AgentConnection(options), ranks);
    agent->countCpus();
    if (!options.otherUsersProcesses) {
        agent->rankOnly([](std::int64_t pid) { return ownProcess(pid); });
    }
    auto disks = std::make_shared<DiskHealthWatch>(AgentConnection(options));
    // Called one at a time; logs changes only, not every failed scrape.
    auto fetch = [agent, disks, lastProblem = std::string()]() mutable {
        auto fetched = agent->fetch();
        fetched.machineElsewhere = machineCollectedElsewhere();
        if (!fetched.machineElsewhere) {
            fetched.disks = disks->latest();
        }
        if (fetched.problem != lastProblem) {
            logLine(fetched.problem.empty() ? "the agent answers again" : fetched.problem);
            lastProblem = fetched.problem;
        }
        return fetched;
    };
    std::string problem;
    MetricsExporter::BindFailure failure;
    auto exporter = MetricsExporter::start({addresses, fetch, web}, problem, &failure);
    if (!exporter) {
        // Another user's exporter on the port will not go away by restarting.
        if (failure.error == EADDRINUSE) {
            logLine("port " + std::to_string(addresses[failure.address].port) +
                    " is in use (by another user's exporter?); pass --listen");
            return addressInUse;
        }
        logLine(problem);
        return failure.error != 0 ? unreachable : usage;
    }
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        addresses[i].port = static_cast<std::uint16_t>(exporter->port(i));
    }
    warnIfExposed(addresses, web);
    for (const auto& address : addresses) {
        logLine(std::string("serving ") + (web.tls ? "https://" : "http://") + address.text() +
                "/metrics");
    }
    for (;;) {
        int signal = 0;
        sigwait(&signals, &signal);
        if (signal != SIGHUP) {
            return answered;
        }
        // A file that cannot be used leaves the one in use, and says why in one line.
        auto loaded = options.webConfigFile ? loadWebConfig(*options.webConfigFile)
                                            : LoadedWebConfig{WebConfig{}, {}};
        if (!loaded.config || !exporter->reconfigure(*loaded.config, problem)) {
            logLine("kept the web configuration in use: " +
                    (loaded.config ? problem : loaded.problem));
        } else if (options.webConfigFile) {
            logLine("read the web configuration again from " + *options.webConfigFile);
        }
    }
}

} // namespace brivane::cli
