#include "backends/linux/cpu/cpuidle_parsing.h"
#include "backends/linux/sysfs_ioreport_source.h"
#include "readers/cpu_details_reader.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

TEST(CpuidleParsing, StateEntriesAndNames) {
    EXPECT_EQ(idleStateNumber("state0"), 0);
    EXPECT_EQ(idleStateNumber("state31"), 31);
    for (const char* other : {"state", "state32", "state01", "state-1", "driver", "stateX"})
        EXPECT_FALSE(idleStateNumber(other)) << other;
    EXPECT_EQ(idleStateName("C1E\n"), "C1E");
    EXPECT_EQ(idleStateName("cpu-sleep-0"), "cpu-sleep-0");
    EXPECT_EQ(idleStateName("haltpoll idle\n"), "haltpoll idle");
    for (const char* bad : {"", "\n", " C6", "C6 ", "C6\x1b[31m", "ABCDEFGHIJKLMNOP", "C1\n\n"})
        EXPECT_FALSE(idleStateName(bad)) << bad;
}

using Idle = CPUDetailsSnapshot::IdleState;
using Count = CPUDetailsSnapshot::ThrottleCount;

// A hybrid Intel laptop: CPUs 0 and 1 the two threads of one performance core (which both
// repeat its throttle counters), 2 and 3 efficiency cores, the last on a kernel without the
// throttle time; CPU 4 offline. The CPU details carry the idle states summed per kind, each
// core's throttling once, the package's once.
TEST(CpuIdleStates, SummedPerKindAndThrottlingCountedOncePerCoreAndPackage) {
    testing::TempDir sys;
    const std::string cpus = "devices/system/cpu/";
    sys.write(cpus + "online", "0-3\n");
    sys.write("bus/event_source/devices/cpu_atom/cpus", "2-3\n");
    sys.write("bus/event_source/devices/cpu_core/cpus", "0-1\n");
    const struct {
        int cpu;
        std::string idle, throttle, siblings;
    } machine[] = {
        {0,
         "state0/name=POLL;state0/time=1000000;state1/name=C1;state1/time=2000000;"
         "state2/name=C6;state2/time=3000000;driver/name=intel_idle",
         "core_throttle_count=5;core_throttle_total_time_ms=1500;package_throttle_count=2;"
         "package_throttle_total_time_ms=300",
         "0-1"},
        {1,
         "state0/name=POLL;state0/time=0;state1/name=C1;state1/time=1000000;state2/name=C6;"
         "state2/time=5000000",
         "core_throttle_count=5;core_throttle_total_time_ms=1500;package_throttle_count=2;"
         "package_throttle_total_time_ms=300",
         "0-1"},
        {2, "state0/name=C1;state0/time=1000000;state1/name=C6S;state1/time=4000000",
         "core_throttle_count=1;core_throttle_total_time_ms=100;package_throttle_count=2", "2"},
        {3,
         "state0/name=C1;state0/time=500000;state1/name=C6S;state1/time=0;"
         "state2/name=C6\x1b;state2/time=9000000;state10/name=C10",
         "core_throttle_count=0;package_throttle_count=2", "3"},
        {4, "state0/name=C1;state0/time=7000000", "core_throttle_count=9", "4"},
    };
    for (const auto& cpu : machine) {
        const std::string folder = cpus + "cpu" + std::to_string(cpu.cpu) + "/";
        sys.writeFiles(folder + "cpuidle", cpu.idle);
        sys.writeFiles(folder + "thermal_throttle", cpu.throttle);
        sys.write(folder + "topology/core_cpus_list", cpu.siblings + "\n");
        sys.write(folder + "topology/physical_package_id", "0\n");
    }
    testing::TempDir proc;
    auto source = std::make_shared<SysfsIOReportSource>(sys.path(), ::pread, proc.path());
    CPUDetailsReader reader(source, nullptr, nullptr, nullptr);

    auto details = reader.read();
    EXPECT_EQ(details.idleStates, (std::map<std::string, std::vector<Idle>, std::less<>>{
                                      {"ECPU", {{"C1", 1.5}, {"C6S", 4}}},
                                      {"PCPU", {{"POLL", 1}, {"C1", 3}, {"C6", 8}}}}));
    ASSERT_TRUE(details.throttling);
    EXPECT_EQ(details.throttling->cores,
              (std::map<std::string, Count, std::less<>>{{"ECPU", {1, {}}}, {"PCPU", {5, 1.5}}}));
    EXPECT_EQ(details.throttling->packages,
              (std::map<std::string, Count, std::less<>>{{"0", {2, 0.3}}}));

    // Counted since the CPUs came up: every request gives the totals, not a difference.
    sys.write(cpus + "cpu1/cpuidle/state2/time", "6000000\n");
    details = reader.read();
    EXPECT_EQ(details.idleStates->at("PCPU").back(), (Idle{"C6", 9}));

    // Without cpuidle nor throttle counters (a virtual machine) both members are absent.
    testing::TempDir bare;
    bare.write(cpus + "online", "0\n");
    CPUDetailsReader none(std::make_shared<SysfsIOReportSource>(bare.path(), ::pread, proc.path()),
                          nullptr, nullptr, nullptr);
    details = none.read();
    EXPECT_EQ(details.idleStates, std::nullopt);
    EXPECT_EQ(details.throttling, std::nullopt);
}

} // namespace
} // namespace brivane::platform::linux_backend
