// The process-status stand-in against procps ps over this machine's /proc, in one run: CPU
// time and wall time per listing, the stand-in's sampling window left out.
//   standInListing  in-process: two passes over /proc, names, formatting (no window)
//   standInTool     the executable, spawned; wall minus its 200 ms window
//   procpsTool      "ps -A -o pid=,pcpu=,comm=", spawned
// Spawned runs report the child's user+system CPU time (wait4) as cpu_ms.
#include "system-tools/process_tools.h"

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace brivane::system_tools;

void standInListing(benchmark::State& state) {
    const ProcessCpuSampler sampler("/proc");
    std::size_t lines = 0;
    for (auto _ : state) {
        const std::string output = processStatusOutput(sampler, std::chrono::nanoseconds(0), 0);
        lines = static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n'));
        benchmark::DoNotOptimize(output);
    }
    state.counters["processes"] = static_cast<double>(lines);
}
BENCHMARK(standInListing)->Unit(benchmark::kMillisecond);

struct ChildRun {
    double wallMs = 0;
    double cpuMs = 0;
    std::size_t lines = 0;
};

ChildRun spawnAndRead(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    ChildRun run;
    std::array<char, 65536> buffer;
    for (ssize_t got; spawned == 0 && (got = read(pipeFds[0], buffer.data(), buffer.size())) > 0;)
        run.lines += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
    close(pipeFds[0]);
    rusage usage{};
    if (spawned == 0)
        wait4(child, nullptr, 0, &usage);
    run.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    run.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    return run;
}

void measureChild(benchmark::State& state, const std::vector<std::string>& words, double windowMs) {
    double wall = 0, cpu = 0, lines = 0;
    for (auto _ : state) {
        const ChildRun run = spawnAndRead(words);
        wall += run.wallMs - windowMs;
        cpu += run.cpuMs;
        lines = static_cast<double>(run.lines);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["wall_ms"] = wall / runs;
    state.counters["cpu_ms"] = cpu / runs;
    state.counters["processes"] = lines;
}

void standInTool(benchmark::State& state) {
    measureChild(state, {BRIVANE_SYSTEM_TOOLS, "ps", "-A", "-c", "-r", "-o", "pid=,pcpu=,comm="},
                 200.0);
}
BENCHMARK(standInTool)->Unit(benchmark::kMillisecond)->Iterations(20);

void procpsTool(benchmark::State& state) {
    measureChild(state, {"/usr/bin/ps", "-A", "-o", "pid=,pcpu=,comm="}, 0.0);
}
BENCHMARK(procpsTool)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
