// The process rankings over this machine's real /proc, next to one run of the process-status
// tool that would give the same memory figures; and the monitor log parser's throughput.
#include "readers/process_details_reader.h"

#include <array>
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using brivane::ProcessDetailsKind;
using brivane::ProcessDetailsReader;

void memoryRanking(benchmark::State& state) {
    ProcessDetailsReader reader(brivane::platform::makeDefaultProcessTable(), nullptr,
                                brivane::platform::makeDefaultUptimeClock());
    std::size_t listed = 0;
    for (auto _ : state) {
        auto snapshot = reader.read(ProcessDetailsKind::memory);
        listed = snapshot.ranked.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(memoryRanking)->Unit(benchmark::kMicrosecond);

void storageCounters(benchmark::State& state) {
    auto clock = std::make_shared<brivane::platform::ManualUptimeClock>();
    ProcessDetailsReader reader(brivane::platform::makeDefaultProcessTable(), nullptr, clock);
    reader.read(ProcessDetailsKind::storage);
    for (auto _ : state) {
        clock->advance(1.0); // every call measures afresh
        auto snapshot = reader.read(ProcessDetailsKind::storage);
        benchmark::DoNotOptimize(snapshot);
    }
}
BENCHMARK(storageCounters)->Unit(benchmark::kMicrosecond);

// "ps -A -o pid=,rss= --sort=-rss", spawned, its output read to the end, and waited for.
void processStatusRun(benchmark::State& state) {
    char ps[] = "ps", a[] = "-A", o[] = "-o", columns[] = "pid=,rss=", sort[] = "--sort=-rss";
    char* argv[] = {ps, a, o, columns, sort, nullptr};
    std::array<char, 65536> buffer;
    for (auto _ : state) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        pid_t child = 0;
        int failed = posix_spawnp(&child, "ps", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        std::size_t bytes = 0;
        if (failed == 0) {
            ssize_t got = 0;
            while ((got = ::read(pipeFds[0], buffer.data(), buffer.size())) > 0)
                bytes += static_cast<std::size_t>(got);
            int status = 0;
            ::waitpid(child, &status, 0);
        }
        ::close(pipeFds[0]);
        if (failed != 0) {
            state.SkipWithError("ps cannot be started");
            return;
        }
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(processStatusRun)->Unit(benchmark::kMicrosecond);

std::string monitorLog(int firstSampleLines) {
    std::string log = "Processes: 600 total, 3 running, 597 sleeping, 2400 threads\n"
                      "Load Avg: 1.92, 2.14, 2.30\n\nPID    COMMAND          POWER\n";
    for (int i = 0; i < firstSampleLines; ++i)
        log += std::to_string(100 + i) + "    some_daemon      0.0\n";
    log += "Processes: 600 total, 2 running, 598 sleeping, 2400 threads\n"
           "Load Avg: 1.90, 2.13, 2.30\n\nPID    COMMAND          POWER\n";
    for (int i = 0; i < 130; ++i)
        log += std::to_string(100 + i) + "    Photo Library Helper  " + std::to_string(i % 40) +
               ".7\n";
    return log;
}

void parseEnergyLines(benchmark::State& state) {
    const std::string log = monitorLog(static_cast<int>(state.range(0)));
    const auto lines = static_cast<int64_t>(std::count(log.begin(), log.end(), '\n'));
    const std::unordered_set<int32_t> excluded{101, 4242};
    for (auto _ : state) {
        auto readings = ProcessDetailsReader::parseEnergy(log, excluded);
        benchmark::DoNotOptimize(readings);
    }
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(parseEnergyLines)->Arg(130)->Arg(5000);

} // namespace
