// How often the Linux agent wakes up: with no client, while a client asks for a snapshot and
// the CPU details once a second (which starts the residency sampler), and once the sampler has
// stopped after the last request. The agent runs over a 32-CPU intel_pstate fixture bound over
// /sys (root only, as the e2e tests); a wake-up is a context switch of any of its threads.
//
//   agent_wakeups [SECONDS]      (default 10 per phase; about 4 × SECONDS + 35 s in all)
#include "support/staged_agent.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

using brivane::testing::StagedAgent;
using brivane::testing::TempDir;

// Voluntary and involuntary context switches of every thread of a process.
long long contextSwitches(pid_t pid) {
    long long total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::atoll(line.substr(line.find(':') + 1).c_str());
    }
    return total;
}

void writeMachine(const TempDir& tree) {
    const std::string cpus = "devices/system/cpu/";
    tree.write(cpus + "online", "0-31\n");
    std::string stat;
    for (int cpu = 0; cpu < 32; ++cpu) {
        const std::string policy = "policy" + std::to_string(cpu);
        tree.symlink(cpus + "cpu" + std::to_string(cpu) + "/cpufreq", "../cpufreq/" + policy);
        tree.writeFiles(cpus + "cpufreq/" + policy, "cpuinfo_min_freq=400000;"
                                                    "cpuinfo_max_freq=4700000;"
                                                    "scaling_cur_freq=2400000");
        stat += "cpu" + std::to_string(cpu) + " 100 0 0 100 0 0 0\n";
    }
    tree.write(".proc-stat", stat);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    StagedAgent staged(
        {.bundle = BRIVANE_LINUX_BUNDLE, .executables = {BRIVANE_CLI}, .bindSys = true});
    writeMachine(staged.sysTree());
    auto* agent = staged.startAgent();
    if (!agent) {
        std::fprintf(stderr, "the agent did not start\n");
        return 1;
    }
    const pid_t pid = agent->pid();
    const auto measure = [&](const char* phase, bool asking) {
        const long long before = contextSwitches(pid);
        const auto start = std::chrono::steady_clock::now();
        for (int second = 0; second < seconds; ++second) {
            if (asking) {
                staged.cli({"--raw", "snapshot"});
                staged.cli({"--raw", "cpu"});
            }
            std::this_thread::sleep_until(start + std::chrono::seconds(second + 1));
        }
        std::printf("%-44s %6.1f wake-ups/s\n", phase,
                    static_cast<double>(contextSwitches(pid) - before) / seconds);
    };
    std::this_thread::sleep_for(std::chrono::seconds(2)); // start-up settles
    measure("no client yet", false);
    measure("1 Hz client (snapshot + cpu each second)", true);
    std::this_thread::sleep_for(std::chrono::seconds(31)); // the sampler's linger
    measure("no client, 31 s after the last request", false);
    return 0;
}
