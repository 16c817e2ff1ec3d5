// Soak: the simulated agent under steady mixed load for a long run, restarted now and then.
//
//   soak_driver [--minutes M] [--restart-minutes R] [--clients N] [--greedy G]
//
// N clients pipeline random batches of every kind of request on their own connections and now
// and then vanish with a batch in flight; G greedy clients keep 256 snapshots in flight each,
// as fast as they are answered; a polite client asks one snapshot every 100 ms on a kept
// connection, and once a second one on a new connection; every R minutes the agent is stopped
// (SIGTERM) and started again; an exporter is scraped every second and `metrics --output` writes
// every 5 s. Prints the agent's resident memory and descriptors every 30 s and, at the end, replies
// lost or duplicated, scrapes and writes that failed while the agent was up, and the polite
// client's slowest and 99th percentile round trips, on its kept connection and on new ones. Exit 0
// when nothing was lost, duplicated, wrong or failed. bench/soak/run stages it and drops root
// privileges.

#include "e2e/http_get.h"
#include "ipc/sensor_client.h"
#include "support/staged_agent.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

using namespace brivane;
using namespace brivane::testing;
using namespace std::chrono_literals;
using ipc::Selector;
using ipc::SensorClient;
using Clock = std::chrono::steady_clock;

struct Kind {
    Selector selector;
    std::optional<std::string> argument;
    const char* mark; // every document of the kind holds it; nullptr: no data expected
    int weight;
};
const Kind kinds[] = {
    {Selector::snapshot, std::nullopt, "\"temperatures\"", 700},
    {Selector::cpuDetails, std::nullopt, "\"residencies\"", 20},
    {Selector::processDetails, "memory", "\"ranked\"", 20},
    {Selector::processDetails, "storage", "\"storage\"", 10},
    {Selector::processDetails, "energy", "\"ranked\"", 10},
    {Selector::storageHealth, "disk0", "\"helperUID\"", 10},
    {Selector::processDetails, "Memory", nullptr, 50},
    {Selector::manage, "check", nullptr, 50},
};

// Whether the agent is serving; replies cut off while it stops are not lost.
struct AgentState {
    std::atomic<bool> up{false};
    std::atomic<int> generation{0};
    bool steady(int since) const { return up && generation == since; }
};

struct Counts {
    // lost: a reply that never came on a connection the agent kept open (timedOut) or closed
    // while serving (closed); unanswered: closed before any reply, as an admission not decided
    // within its deadline is (a starved machine).
    std::atomic<long> answered{0}, lost{0}, timedOut{0}, unanswered{0}, duplicated{0}, wrong{0},
        cutByRestart{0};
    std::atomic<long> abandoned{0}, scrapes{0}, scrapesFailed{0}, writes{0}, writesFailed{0};
    std::atomic<long> greedyAnswered{0};
};

void client(const std::string& endpoint, unsigned seed, Clock::time_point end,
            const AgentState& agent, Counts& counts) {
    std::mt19937 random(seed);
    std::discrete_distribution<std::size_t> kindOf(
        std::size(kinds), 0, std::size(kinds),
        [](double i) { return kinds[static_cast<std::size_t>(i)].weight; });
    std::unique_ptr<SensorClient> connection;
    int connectedIn = -1; // the agent's generation when the connection was made
    bool answeredBefore = false;
    while (Clock::now() < end) {
        const int generation = agent.generation;
        if (!agent.up) {
            std::this_thread::sleep_for(50ms);
            continue;
        }
        if (connection && (connectedIn != generation || !connection->isOpen())) {
            connection.reset(); // made with an agent that has stopped since
        }
        std::string problem;
        if (!connection) {
            if (!(connection = SensorClient::connect(endpoint, problem, 2000))) {
                std::this_thread::sleep_for(50ms);
                continue;
            }
            connectedIn = generation;
            answeredBefore = false;
        }
        std::map<std::uint32_t, const Kind*> pending;
        for (auto batch = random() % 16 + 1; batch > 0; --batch) {
            const Kind& kind = kinds[kindOf(random)];
            if (const auto id = connection->send(kind.selector, kind.argument)) {
                pending.emplace(*id, &kind);
            }
        }
        if (random() % 100 < 3) { // vanish with the batch in flight
            counts.abandoned += static_cast<long>(pending.size());
            connection.reset();
            continue;
        }
        while (!pending.empty()) {
            const auto outcome = connection->receive(10000);
            if (outcome.status != SensorClient::Status::replied) {
                const auto missing = static_cast<long>(pending.size());
                if (!agent.steady(generation)) {
                    counts.cutByRestart += missing;
                } else if (outcome.status == SensorClient::Status::timedOut) {
                    counts.timedOut += missing;
                } else {
                    (answeredBefore ? counts.lost : counts.unanswered) += missing;
                }
                connection.reset();
                break;
            }
            answeredBefore = true;
            const auto found = pending.find(outcome.reply.id);
            if (found == pending.end()) {
                ++counts.duplicated;
                continue;
            }
            const auto& document = outcome.reply.document;
            const bool fits =
                found->second->mark
                    ? document && document->find(found->second->mark) != std::string::npos
                    : !document;
            ++(fits ? counts.answered : counts.wrong);
            pending.erase(found);
        }
    }
}

// Keeps `depth` snapshots in flight on one connection, each reply checked and replaced by a new
// request at once.
void greedy(const std::string& endpoint, long depth, Clock::time_point end, const AgentState& agent,
            Counts& counts) {
    std::unique_ptr<SensorClient> connection;
    int connectedIn = -1;
    std::set<std::uint32_t> pending;
    while (Clock::now() < end) {
        const int generation = agent.generation;
        if (!agent.up || (connection && (connectedIn != generation || !connection->isOpen()))) {
            counts.cutByRestart += static_cast<long>(pending.size());
            pending.clear();
            connection.reset();
            std::this_thread::sleep_for(50ms);
            continue;
        }
        std::string problem;
        if (!connection) {
            if (!(connection = SensorClient::connect(endpoint, problem, 2000))) {
                std::this_thread::sleep_for(50ms);
                continue;
            }
            connectedIn = generation;
        }
        while (static_cast<long>(pending.size()) < depth) {
            const auto id = connection->send(Selector::snapshot, std::nullopt);
            if (!id) {
                break;
            }
            pending.insert(*id);
        }
        const auto outcome = connection->receive(10000);
        if (outcome.status != SensorClient::Status::replied) {
            (agent.steady(generation) ? counts.lost : counts.cutByRestart) +=
                static_cast<long>(pending.size());
            pending.clear();
            connection.reset();
            continue;
        }
        if (pending.erase(outcome.reply.id) == 0) {
            ++counts.duplicated;
        } else if (outcome.reply.document &&
                   outcome.reply.document->find("\"temperatures\"") != std::string::npos) {
            ++counts.greedyAnswered;
        } else {
            ++counts.wrong;
        }
    }
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One snapshot every 100 ms on a kept connection, and once a second one on a new connection
// (connected, admitted and answered); the round trips taken while the agent stayed.
void polite(const std::string& endpoint, Clock::time_point end, const AgentState& agent,
            std::vector<double>& roundTrips, std::vector<double>& freshTrips) {
    std::unique_ptr<SensorClient> connection;
    int tick = 0;
    for (auto next = Clock::now(); next < end; next += 100ms) {
        std::this_thread::sleep_until(next);
        const int generation = agent.generation;
        std::string problem;
        if (++tick % 10 == 0 && agent.up) {
            const auto start = Clock::now();
            auto fresh = SensorClient::connect(endpoint, problem, 2000);
            if (fresh &&
                fresh->call(Selector::snapshot, std::nullopt, 10000).status ==
                    SensorClient::Status::replied &&
                agent.steady(generation)) {
                freshTrips.push_back(millisecondsSince(start));
            }
            continue;
        }
        if (!agent.up ||
            (!connection && !(connection = SensorClient::connect(endpoint, problem, 2000)))) {
            continue;
        }
        const auto start = Clock::now();
        const auto outcome = connection->call(Selector::snapshot, std::nullopt, 10000);
        if (outcome.status == SensorClient::Status::replied && agent.steady(generation)) {
            roundTrips.push_back(millisecondsSince(start));
        } else {
            connection.reset();
        }
    }
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    double minutes = 60, restartMinutes = 10;
    int clients = 16;
    int greedyClients = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const double value = std::stod(argv[i + 1]);
        if (option == "--minutes") {
            minutes = value;
        } else if (option == "--restart-minutes") {
            restartMinutes = value;
        } else if (option == "--clients") {
            clients = static_cast<int>(value);
        } else if (option == "--greedy") {
            greedyClients = static_cast<int>(value);
        }
    }
    StagedAgent staged(
        {.bundle = BRIVANE_SOAK_BUNDLE, .executables = {BRIVANE_SOAK_CLI, BRIVANE_SOAK_EXPORTER}});
    const auto start = Clock::now();
    const auto minutesFromNow = [](double count) {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::ratio<60>>(count));
    };
    const Clock::time_point end = start + minutesFromNow(minutes);
    const auto since = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    AgentState agent;
    Counts counts;
    ChildProcess* running = staged.startAgent(60s);
    if (!running) {
        std::fprintf(stderr, "the agent did not start\n");
        return 1;
    }
    agent.up = true;

    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] { client(staged.endpoint(), 1000u + c, end, agent, counts); });
    }
    for (int g = 0; g < greedyClients; ++g) {
        threads.emplace_back([&] { greedy(staged.endpoint(), 256, end, agent, counts); });
    }
    std::vector<double> roundTrips, freshTrips;
    threads.emplace_back([&] { polite(staged.endpoint(), end, agent, roundTrips, freshTrips); });
    const auto listen = freeLoopbackAddress();
    ChildProcess exporter(staged.asAgentUser({staged.path("brivane-sensors"), "--endpoint",
                                              staged.endpoint(), "export", "--listen", listen}),
                          staged.environment(), staged.scratch());
    // Scrapes count from the exporter's first answer: on a loaded machine it may take a while.
    for (const auto ready = Clock::now() + 30s;
         Clock::now() < ready && httpGet("http://" + listen + "/metrics") == "HTTP 0";) {
        std::this_thread::sleep_for(100ms);
    }
    threads.emplace_back([&] { // one scrape a second
        for (auto next = Clock::now(); next < end; next += 1s) {
            std::this_thread::sleep_until(next);
            const int generation = agent.generation;
            const auto body = httpGet("http://" + listen + "/metrics");
            const bool ok = body.find("\nbrivane_up 1\n") != std::string::npos;
            ++counts.scrapes;
            if (!ok && agent.steady(generation)) {
                ++counts.scrapesFailed;
                std::printf("%.0f scrape failed: %.60s\n", since(), body.c_str());
            }
        }
    });
    threads.emplace_back([&] { // one metrics file every 5 s
        for (auto next = Clock::now(); next < end; next += 5s) {
            std::this_thread::sleep_until(next);
            const int generation = agent.generation;
            const bool ok =
                staged.cli({"metrics", "--output", staged.path("home") + "/soak.prom"}).status == 0;
            ++counts.writes;
            counts.writesFailed += !ok && agent.steady(generation);
        }
    });

    std::printf("seconds generation rss_kib fds answered\n");
    auto nextRestart = start + minutesFromNow(restartMinutes);
    for (auto next = Clock::now(); next < end; next += 30s) {
        std::this_thread::sleep_until(std::min(next, end));
        if (Clock::now() >= nextRestart && Clock::now() < end) {
            agent.up = false;
            ++agent.generation;
            running->kill(SIGTERM);
            const auto status = running->waitForExit(10s);
            running = staged.startAgent(60s);
            std::printf("%.0f restart: exit %d, %s\n", since(), status.value_or(-1),
                        running ? "serving again" : "did not start");
            if (!running) {
                return 1;
            }
            agent.up = true;
            nextRestart += minutesFromNow(restartMinutes);
        }
        std::printf("%.0f %d %ld %zu %ld\n", since(), agent.generation.load(),
                    residentKiB(running->pid()), running->openDescriptors().value_or(0),
                    counts.answered.load());
        (void)std::fflush(stdout); // a lost status line does not end the soak
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::printf(
        "answered %ld greedy-answered %ld lost %ld timed-out %ld unanswered-connections %ld "
        "duplicated %ld wrong %ld abandoned %ld cut-by-restart %ld\n"
        "scrapes %ld failed-while-up %ld writes %ld failed-while-up %ld\n",
        counts.answered.load(), counts.greedyAnswered.load(), counts.lost.load(),
        counts.timedOut.load(), counts.unanswered.load(), counts.duplicated.load(),
        counts.wrong.load(), counts.abandoned.load(), counts.cutByRestart.load(),
        counts.scrapes.load(), counts.scrapesFailed.load(), counts.writes.load(),
        counts.writesFailed.load());
    const auto report = [](const char* what, std::vector<double>& trips) {
        std::sort(trips.begin(), trips.end());
        if (!trips.empty()) {
            std::printf("%s %zu: median %.2f ms, p99 %.2f ms, slowest %.2f ms\n", what,
                        trips.size(), trips[trips.size() / 2], trips[trips.size() * 99 / 100],
                        trips.back());
        }
    };
    report("polite snapshots", roundTrips);
    report("new connections' first snapshots", freshTrips);
    return counts.lost + counts.timedOut + counts.unanswered + counts.duplicated + counts.wrong +
                       counts.scrapesFailed + counts.writesFailed ==
                   0
               ? 0
               : 1;
}
