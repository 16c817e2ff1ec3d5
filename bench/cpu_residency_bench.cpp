// One look of the CPU residency sampler on a 32-CPU intel_pstate machine (per-CPU policies,
// no stats table): /proc/stat with its CPU lines and a long interrupt line, and each CPU's
// scaling_cur_freq. Every CPU was busy since the previous look, the worst case: each look
// reads every CPU's frequency. Target: at most 50 µs of CPU time per look.

#include "backends/linux/cpu/cpu_state_channels.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>
#include <ctime>
#include <stdlib.h>
#include <unistd.h>

namespace brivane {
namespace {

using namespace platform::linux_backend;
using platform::posix::RootedDirectory;

constexpr int cpuCount = 32;

std::string procStat(int busyTicks) {
    std::string stat = "cpu  1 2 3 4 5 6 7 8 0 0\n";
    for (int cpu = 0; cpu < cpuCount; ++cpu)
        stat += "cpu" + std::to_string(cpu) + " " + std::to_string(4705123 + busyTicks) +
                " 150 1120456 16250789 520 30 45 0 0 0\n";
    stat += "intr 123456789";
    for (int irq = 0; irq < 400; ++irq)
        stat += " " + std::to_string(irq * 37);
    return stat + "\nctxt 123456789\nbtime 1700000000\n";
}

void writeMachine(const testing::TempDir& sys, const testing::TempDir& proc) {
    const std::string cpus = "devices/system/cpu/";
    sys.write(cpus + "online", "0-" + std::to_string(cpuCount - 1) + "\n");
    for (int cpu = 0; cpu < cpuCount; ++cpu) {
        const std::string policy = "policy" + std::to_string(cpu);
        sys.symlink(cpus + "cpu" + std::to_string(cpu) + "/cpufreq", "../cpufreq/" + policy);
        sys.writeFiles(cpus + "cpufreq/" + policy,
                       "cpuinfo_min_freq=400000;cpuinfo_max_freq=4700000;scaling_cur_freq=" +
                           std::to_string(800000 + cpu * 100000));
    }
    proc.write("stat", procStat(0));
}

void SamplerTick(benchmark::State& state) {
    // sysfs and procfs live in memory: so does the fixture, where the machine has a tmpfs.
    if (::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
    testing::TempDir sys, proc;
    writeMachine(sys, proc);
    const RootedDirectory sysRoot(sys.path()), procRoot(proc.path());
    CpuStateChannels channels(sysRoot, procRoot, ::pread, {});
    const auto found = channels.discover();
    std::size_t kept = 0;
    auto subscribed = channels.subscribe(found.value_or(platform::IOReportChannelList{}), kept);
    auto* reader = dynamic_cast<CpuStateReader*>(subscribed.get());
    if (!reader || found->size() != cpuCount) {
        state.SkipWithError("the fixture gave no sampled channels");
        return;
    }
    // The look's own CPU time, without rewriting the fixture between looks.
    const auto cpuSeconds = [] {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    };
    int look = 0;
    for (auto _ : state) {
        proc.write("stat", procStat(++look * 5)); // 50 ms busy on every CPU since the last look
        const double start = cpuSeconds();
        reader->tick();
        state.SetIterationTime(cpuSeconds() - start);
    }
}
BENCHMARK(SamplerTick)->UseManualTime();

} // namespace
} // namespace brivane
