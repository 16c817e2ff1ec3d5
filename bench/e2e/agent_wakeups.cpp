// How often the Linux agent wakes up: with no client, while a client asks for a snapshot once a
// second, then for a snapshot and the CPU details (which starts the residency sampler), and
// once the sampler has stopped after the last request; and what a storm of 2,000 kernel device
// events a second (change events of /sys/class/mem/null, which the agent does not watch) costs
// it beside a 1 Hz client, in CPU (target under 20 % of a core). The agent runs over a 32-CPU
// intel_pstate fixture bound over /sys (root only, as the e2e tests). A wake-up is a voluntary
// context switch of any of its threads (it slept and was woken); preemptions by other load are
// shown beside them, per thread, but not held against the targets. Fails above a target.
//
//   agent_wakeups [SECONDS]      (default 10 per phase; about 6 × SECONDS + 45 s in all)
#include "support/staged_agent.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using brivane::testing::StagedAgent;
using brivane::testing::TempDir;

struct Switches {
    long long voluntary = 0;
    long long preempted = 0;
};

// Context switches of every thread of a process, by thread name.
std::map<std::string, Switches> contextSwitches(pid_t pid) {
    std::map<std::string, Switches> threads;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream status(task.path() / "status");
        std::string name;
        Switches counts;
        for (std::string line; std::getline(status, line);) {
            const auto value = [&] { return std::atoll(line.substr(line.find(':') + 1).c_str()); };
            if (line.starts_with("Name:"))
                name = line.substr(line.find_first_not_of(" \t", 5));
            else if (line.starts_with("voluntary_ctxt_switches:"))
                counts.voluntary = value();
            else if (line.starts_with("nonvoluntary_ctxt_switches:"))
                counts.preempted = value();
        }
        threads[name].voluntary += counts.voluntary;
        threads[name].preempted += counts.preempted;
    }
    return threads;
}

// CPU seconds of a process, all its threads.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index >= 14) {
            ticks += std::atof(field.c_str()); // utime, stime
        }
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Kernel device events at `perSecond` until `stop`: "change" written to a device's uevent file.
void ueventStorm(int perSecond, const std::atomic<bool>& stop) {
    const int file = ::open("/sys/class/mem/null/uevent", O_WRONLY | O_CLOEXEC);
    const auto start = std::chrono::steady_clock::now();
    for (long sent = 0; file >= 0 && !stop; ++sent) {
        if (::write(file, "change", 6) != 6) {
            break;
        }
        std::this_thread::sleep_until(start +
                                      std::chrono::microseconds(sent * 1'000'000 / perSecond));
    }
    if (file >= 0) {
        ::close(file);
    }
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
    bool met = true;
    const auto measure = [&](const char* phase, const std::vector<const char*>& asks,
                             double target) {
        const auto before = contextSwitches(pid);
        const auto start = std::chrono::steady_clock::now();
        for (int second = 0; second < seconds; ++second) {
            for (const char* ask : asks)
                staged.cli({"--raw", ask});
            std::this_thread::sleep_until(start + std::chrono::seconds(second + 1));
        }
        long long total = 0;
        std::string threads;
        for (const auto& [name, after] : contextSwitches(pid)) {
            const auto was = before.contains(name) ? before.at(name) : Switches{};
            const long long woken = after.voluntary - was.voluntary;
            const long long preempted = after.preempted - was.preempted;
            total += woken;
            if (woken + preempted > 0) {
                char line[96];
                std::snprintf(line, sizeof line, "    %-16s %6.1f (+%.1f preempted)\n",
                              name.c_str(), static_cast<double>(woken) / seconds,
                              static_cast<double>(preempted) / seconds);
                threads += line;
            }
        }
        const double rate = static_cast<double>(total) / seconds;
        const bool over = rate > target;
        met = met && !over;
        std::printf("%-44s %6.1f wake-ups/s (target %g)%s\n%s", phase, rate, target,
                    over ? " ABOVE TARGET" : "", threads.c_str());
    };
    std::this_thread::sleep_for(std::chrono::seconds(12)); // the start-up reads stop
    measure("no client yet", {}, 0);
    measure("1 Hz client (snapshot each second)", {"snapshot"}, 5);
    measure("1 Hz client (snapshot + cpu each second)", {"snapshot", "cpu"}, 14);
    std::this_thread::sleep_for(std::chrono::seconds(31)); // the sampler's linger
    measure("no client, 31 s after the last request", {}, 0);
    {
        std::atomic<bool> stop{false};
        std::thread storm(ueventStorm, 2000, std::cref(stop));
        const double before = cpuSeconds(pid);
        const auto start = std::chrono::steady_clock::now();
        measure("1 Hz client, 2,000 uevents/s", {"snapshot"}, 5);
        const double share =
            (cpuSeconds(pid) - before) /
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        stop = true;
        storm.join();
        const bool over = share > 0.2;
        met = met && !over;
        std::printf("%-44s %6.1f %% of a core (target 20)%s\n", "  agent CPU meanwhile",
                    share * 100, over ? " ABOVE TARGET" : "");
    }
    return met && std::fflush(stdout) == 0 ? 0 : 1;
}
