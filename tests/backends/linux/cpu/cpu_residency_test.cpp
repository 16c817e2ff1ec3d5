#include "backends/linux/cpu/cpu_residency.h"
#include "backends/linux/sysfs_ioreport_source.h"
#include "backends/posix/shared/ioreport_delta.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>
#include <thread>

namespace brivane::platform::linux_backend {
namespace {

using testing::TempDir;
using Bins = std::vector<std::uint64_t>;

TEST(CpuResidency, ProcStatLines) {
    struct Case {
        const char* line;
        std::optional<std::array<std::uint64_t, 3>> expected; // cpu, active, idle
    };
    const Case cases[] = {
        // user nice system idle iowait irq softirq steal guest guest_nice
        {"cpu3 4705 150 1120 16250 520 30 45 900 11 0", {{3, 4705 + 150 + 1120 + 30 + 45, 16770}}},
        {"cpu0 1 2 3 4", {{0, 6, 4}}}, // old kernels: four figures
        {"cpu  4705 150 1120 16250 520 30 45 0 0 0", {}},
        {"cpu1 1 2 3", {}},
        {"cpu1 1 2 3 4 5 6 7 8 9 10 11", {}},
        {"cpu2 18446744073709551615 1 0 0", {}}, // sums past 64 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto times = parseProcStatCpuLine(c.line);
        ASSERT_EQ(times.has_value(), c.expected.has_value());
        if (times) {
            EXPECT_EQ((std::array<std::uint64_t, 3>{static_cast<std::uint64_t>(times->cpu),
                                                    times->active, times->idle}),
                      *c.expected);
        }
    }
    std::vector<int> seen;
    forEachProcStatCpu("cpu  1 1 1 1\ncpu0 1 1 1 1\ncpu2 1 1 1 1\nintr 5\ncpu3 1 1 1 1\n",
                       [&](const CpuTimes& times) { seen.push_back(times.cpu); });
    forEachProcStatCpu("cpu5 1 1 1 1\ncpu6 1 1", // cut short
                       [&](const CpuTimes& times) { seen.push_back(times.cpu); });
    EXPECT_EQ(seen, (std::vector<int>{0, 2, 5}));
}

TEST(CpuResidency, BinsNearestAndIdleFromTheBottom) {
    const Bins available{2400000, 800000, 1600000, 800000};
    EXPECT_EQ(frequencyBins(400000, 4700000, available), (Bins{800000, 1600000, 2400000}));
    // intel_pstate: 400 MHz to 4.7 GHz in 200 MHz steps, the maximum last.
    const Bins pstate = frequencyBins(400000, 4700000, {});
    EXPECT_EQ(pstate.size(), 23u);
    EXPECT_EQ(pstate[1], 600000u);
    EXPECT_EQ(pstate.back(), 4700000u);
    EXPECT_EQ(frequencyBins(1000000, 1000000, {}), (Bins{1000000}));
    EXPECT_TRUE(frequencyBins(0, 3000000, {}).empty());
    EXPECT_TRUE(frequencyBins(3000000, 1000000, {}).empty());

    const Bins bins{800000, 1600000, 2400000};
    for (const auto& [kiloHertz, bin] : std::vector<std::pair<std::uint64_t, std::size_t>>{
             {100, 0}, {1199999, 0}, {1200000, 0}, {1200001, 1}, {2400000, 2}, {5000000, 2}})
        EXPECT_EQ(nearestBin(bins, kiloHertz), bin) << kiloHertz;

    // Busy 10 % at 3.4 GHz, idle 90 % at 800 MHz: only the busy time remains.
    Bins time{900, 0, 100};
    removeIdle(time, 900);
    EXPECT_EQ(time, (Bins{0, 0, 100}));
    time = {300, 200, 500};
    removeIdle(time, 450);
    EXPECT_EQ(time, (Bins{0, 50, 500}));
    removeIdle(time, 10'000); // more idle than time: nothing below zero
    EXPECT_EQ(time, (Bins{0, 0, 0}));
}

// An intel_pstate CPU (no stats table): the sampler puts active time into the bin of the
// frequency each look finds, runs from a request until `linger` after the last one.
TEST(CpuResidency, SampledWithoutTimeInState) {
    TempDir sys, proc;
    const std::string policy = "devices/system/cpu/cpufreq/policy0/";
    sys.write("devices/system/cpu/online", "0\n");
    sys.symlink("devices/system/cpu/cpu0/cpufreq", "../cpufreq/policy0");
    sys.writeFiles(policy, "scaling_cur_freq=800000;cpuinfo_min_freq=800000;"
                           "cpuinfo_max_freq=2400000;scaling_available_frequencies=800000 "
                           "1600000 2400000");
    proc.write("stat", "cpu0 100 0 0 100 0 0 0\n");
    SysfsIOReportSource source(sys.path(), ::pread, proc.path(),
                               {std::chrono::milliseconds(5), std::chrono::milliseconds(50)});
    const auto channels = source.copyChannelsInGroup("CPU Stats", std::nullopt);
    ASSERT_TRUE(channels);
    ASSERT_EQ(channels->front().stateCount(), 4);
    EXPECT_EQ(channels->front().stateName(1), "1600 MHz");
    auto subscription = source.createSubscription(*channels);
    ASSERT_TRUE(subscription.subscription);
    const auto sample = [&] {
        return source.createSamples(*subscription.subscription, *channels)->channels.front();
    };
    const auto residencies = [](const IOReportChannel& channel) {
        Bins values;
        for (const IOReportState& state : channel.states)
            values.push_back(static_cast<std::uint64_t>(state.residency));
        return values;
    };
    const IOReportChannel first = sample();
    // 30 ticks busy and 10 idle at 1.6 GHz, then 5 busy at 2.4 GHz: ticks of 10 ms. The
    // frequency is written first, so every look that sees the new times sees it too.
    sys.write(policy + "scaling_cur_freq", "1600000\n");
    proc.write("stat", "cpu0 130 0 0 110 0 0 0\n");
    sample();
    sys.write(policy + "scaling_cur_freq", "2390000\n");
    proc.write("stat", "cpu0 135 0 0 110 0 0 0\n");
    const IOReportChannel last = sample();
    const auto delta = subtractSamples({{first}}, {{last}});
    ASSERT_EQ(delta.size(), 1u);
    EXPECT_EQ(residencies(delta.front()), (Bins{0, 300000, 50000, 100000}));

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    proc.write("stat", "cpu0 900 0 0 110 0 0 0\n"); // while stopped: in no bin
    EXPECT_EQ(residencies(sample()), residencies(last));
}

} // namespace
} // namespace brivane::platform::linux_backend
