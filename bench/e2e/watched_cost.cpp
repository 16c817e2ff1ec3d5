// The cost of being watched: the Linux agent over a fixture /sys with 40 temperatures, 8 fans,
// 2 channels of a firmware chip and a battery (bench/watched_machine.h), asked by the client CLI.
// Prints round trips timed by a client on one admitted connection (this program's own staged,
// signed copy, run as the agent's user), and from the agent's own /proc entries (CPU time per
// thread from schedstat, context switches from status):
// - the first snapshot's round trip on a fresh agent and after a rest, against the median of
//   the next five;
// - CPU per snapshot at ten snapshots a second over one connection, without the sensor
//   lanes' threads ("*-read", "*-slow"), and the lanes' CPU per second meanwhile;
// - CPU per second while one client asks once a second for 30 s on one kept connection, in
//   percent of a core, and the wake-ups (voluntary context switches) of each thread;
// - wake-ups per second and read calls over 20 s, starting 11 s after the last request.
//
//   watched_cost_e2e      (as root: the fixture is bound over /sys, the agent runs as nobody)
//   watched_cost_e2e --client ENDPOINT N   (the client: N snapshot round trips in µs)

#include "../timed_snapshots.h"
#include "../watched_machine.h"
#include "support/staged_agent.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using brivane::testing::ChildProcess;
using brivane::testing::StagedAgent;
using Clock = std::chrono::steady_clock;

struct Usage {
    double lanesSeconds = 0; // CPU of the sensor lanes
    double otherSeconds = 0; // CPU of every other thread
    std::map<std::string, double> byThread;
    std::map<std::string, long> switchesByThread;
    long switches = 0; // voluntary and involuntary, all threads
    long wakeUps = 0;  // voluntary only, all threads
    long readCalls = 0;
};

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

Usage usageOf(pid_t pid) {
    Usage usage;
    const fs::path process = "/proc/" + std::to_string(pid);
    std::error_code error;
    for (const auto& task : fs::directory_iterator(process / "task", error)) {
        const std::string name = firstLine(task.path() / "comm");
        const double seconds = std::atof(firstLine(task.path() / "schedstat").c_str()) / 1e9;
        const bool lane = name.ends_with("-read") || name.ends_with("-slow");
        (lane ? usage.lanesSeconds : usage.otherSeconds) += seconds;
        usage.byThread[name] += seconds;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.find("ctxt_switches:") != std::string::npos) {
                const long count = std::atol(line.substr(line.find(':') + 1).c_str());
                usage.switches += count;
                // A wake-up: the thread slept and was woken; preemptions by other load are not.
                if (line.starts_with("voluntary_")) {
                    usage.wakeUps += count;
                    usage.switchesByThread[name] += count;
                }
            }
        }
    }
    std::ifstream io(process / "io");
    for (std::string line; std::getline(io, line);) {
        if (line.starts_with("syscr:")) {
            usage.readCalls = std::atol(line.substr(6).c_str());
        }
    }
    return usage;
}

// The agent itself, not the wrappers that bind the fixture and drop privileges.
pid_t agentPid(const std::string& executable) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline");
        std::string first;
        std::getline(in, first, '\0');
        if (first == executable) {
            return static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
        }
    }
    return -1;
}

// The first of six round trips, and the median of the other five, in milliseconds.
std::pair<double, double> firstAndLater(StagedAgent& staged) {
    const auto run =
        staged.run({staged.path("watched_cost_e2e"), "--client", staged.endpoint(), "6"});
    std::istringstream lines(run.output);
    std::vector<double> times;
    for (double us; lines >> us;) {
        times.push_back(us / 1000);
    }
    if (times.size() != 6) {
        return {-1, -1};
    }
    std::sort(times.begin() + 1, times.end());
    return {times[0], times[3]};
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The CLI watching the snapshot every `interval` for `duration`; the documents it printed.
std::size_t watch(StagedAgent& staged, const char* interval, std::chrono::seconds duration) {
    const std::string output = staged.scratch();
    {
        ChildProcess watcher(
            staged.asAgentUser({staged.path("brivane-sensors"), "--endpoint", staged.endpoint(),
                                "watch", "snapshot", "--raw", "--interval", interval}),
            staged.environment(), output);
        std::this_thread::sleep_for(duration);
        watcher.kill(SIGTERM);
        watcher.waitForExit(std::chrono::seconds(5));
    }
    std::ifstream in(output);
    return static_cast<std::size_t>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--client") {
        return timeSnapshots(argv[2], std::atoi(argv[3]));
    }
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    StagedAgent staged({.bundle = BRIVANE_LINUX_BUNDLE,
                        .executables = {BRIVANE_CLI, BRIVANE_SELF},
                        .bindSys = true});
    brivane::bench::addWatchedMachine(staged.sysTree());
    if (!staged.startAgent()) {
        std::fprintf(stderr, "the agent did not start\n");
        return 1;
    }
    const pid_t pid = agentPid(staged.agentExecutable());

    auto [fresh, freshLater] = firstAndLater(staged);
    std::printf("first snapshot of a fresh agent: %.2f ms round trip (the next five: median "
                "%.2f ms)\n",
                fresh, freshLater);

    Clock::time_point began;
    Usage before = usageOf(pid);
    began = Clock::now();
    const std::size_t fast = watch(staged, "0.1", std::chrono::seconds(20));
    Usage after = usageOf(pid);
    std::printf("snapshots at 10 Hz: %zu; CPU per snapshot %.1f us; sensor lanes %.1f us/s\n", fast,
                (after.otherSeconds - before.otherSeconds) / static_cast<double>(fast) * 1e6,
                (after.lanesSeconds - before.lanesSeconds) / seconds(began) * 1e6);
    for (const auto& [name, total] : after.byThread) {
        std::printf("  %-16s %8.1f us per snapshot\n", name.c_str(),
                    (total - before.byThread[name]) / static_cast<double>(fast) * 1e6);
    }

    before = usageOf(pid);
    began = Clock::now();
    const std::size_t slow = watch(staged, "1", std::chrono::seconds(30));
    after = usageOf(pid);
    const double cpu =
        after.otherSeconds + after.lanesSeconds - before.otherSeconds - before.lanesSeconds;
    std::printf("1 Hz client: %zu snapshots in %.0f s; agent CPU %.4f %% of a core "
                "(%.1f us/s, of which sensor lanes %.1f us/s)\n",
                slow, seconds(began), cpu / seconds(began) * 100, cpu / seconds(began) * 1e6,
                (after.lanesSeconds - before.lanesSeconds) / seconds(began) * 1e6);

    std::printf("  wake-ups of all threads: %.1f /s (target 4)\n",
                static_cast<double>(after.wakeUps - before.wakeUps) / seconds(began));
    for (const auto& [name, total] : after.byThread) {
        if (total > before.byThread[name]) {
            std::printf(
                "  %-16s %8.1f us/s, %5.1f wake-ups/s\n", name.c_str(),
                (total - before.byThread[name]) / seconds(began) * 1e6,
                static_cast<double>(after.switchesByThread[name] - before.switchesByThread[name]) /
                    seconds(began));
        }
    }

    std::this_thread::sleep_for(std::chrono::seconds(11));
    before = usageOf(pid);
    began = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(20));
    after = usageOf(pid);
    std::printf("no client (from 11 s after the last request, 20 s): %.2f wake-ups/s, %ld read "
                "calls\n",
                static_cast<double>(after.switches - before.switches) / seconds(began),
                after.readCalls - before.readCalls);

    auto [rested, restedLater] = firstAndLater(staged);
    std::printf("first snapshot after the rest: %.2f ms round trip (the next five: median "
                "%.2f ms)\n",
                rested, restedLater);
    return 0;
}
