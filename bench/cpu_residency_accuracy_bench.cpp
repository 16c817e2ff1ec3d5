// How well the residency sampler's frequency bins match the truth. A simulated CPU changes
// frequency every 50 to 300 ms among four values and is busy in half of its 10 ms slices, at
// random; a writer thread publishes its scaling_cur_freq and /proc/stat (USER_HZ slices) as it
// goes, while the sampler looks every 100, 250, 500 or 1000 ms (the second argument). Reported: the
// share of active time that would have to move between bins to match the truth
// ("distribution_error_pct"), and the error of the total active time.

#include "backends/linux/sysfs_ioreport_source.h"
#include "backends/posix/shared/ioreport_delta.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <random>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

namespace brivane {
namespace {

using namespace platform::linux_backend;

void SamplerAccuracy(benchmark::State& state) {
    if (::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
    testing::TempDir sys, proc;
    const std::string policy = "devices/system/cpu/cpufreq/policy0/";
    sys.write("devices/system/cpu/online", "0\n");
    sys.symlink("devices/system/cpu/cpu0/cpufreq", "../cpufreq/policy0");
    sys.writeFiles(policy, "scaling_cur_freq=800000;scaling_available_frequencies=800000 1600000 "
                           "2400000 3200000");
    proc.write("stat", "cpu0 0 0 0 0 0 0 0\n");
    const std::uint64_t frequencies[] = {800000, 1600000, 2400000, 3200000};
    const auto seconds = static_cast<int>(state.range(0));
    for (auto _ : state) {
        SysfsIOReportSource source(sys.path(), ::pread, proc.path(),
                                   {.period = std::chrono::milliseconds(state.range(1))});
        const auto channels = source.copyChannelsInGroup("CPU Stats", std::nullopt);
        auto subscription = source.createSubscription(channels.value());
        const auto first = source.createSamples(*subscription.subscription, *channels).value();
        std::mt19937 random(7);
        std::uint64_t truth[4] = {}, busy = 0, idle = 0;
        const auto start = std::chrono::steady_clock::now();
        std::size_t level = 0;
        auto nextChange = start;
        for (int slice = 0; slice < seconds * 100; ++slice) {
            const auto now = start + std::chrono::milliseconds(10 * slice);
            std::this_thread::sleep_until(now);
            if (now >= nextChange) {
                level = random() % 4;
                nextChange = now + std::chrono::milliseconds(50 + random() % 251);
                sys.write(policy + "scaling_cur_freq", std::to_string(frequencies[level]) + "\n");
            }
            if (random() % 2) {
                ++busy;
                truth[level] += 10'000;
            } else {
                ++idle;
            }
            proc.write("stat",
                       "cpu0 " + std::to_string(busy) + " 0 0 " + std::to_string(idle) + "\n");
        }
        const auto last = source.createSamples(*subscription.subscription, *channels).value();
        const auto delta = platform::subtractSamples(first, last).front();
        double misbinned = 0, measured = 0, total = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const double got = static_cast<double>(delta.states[i].residency);
            misbinned += std::abs(got - static_cast<double>(truth[i]));
            measured += got;
            total += static_cast<double>(truth[i]);
        }
        state.counters["distribution_error_pct"] = 100 * misbinned / 2 / total;
        state.counters["active_error_pct"] = 100 * (measured - total) / total;
    }
}
BENCHMARK(SamplerAccuracy)
    ->ArgsProduct({{10}, {100, 250, 500, 1000}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace
} // namespace brivane
