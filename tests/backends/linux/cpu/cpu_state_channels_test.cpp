#include "backends/linux/cpu/cpu_topology.h"
#include "backends/linux/cpu/cpufreq_parsing.h"
#include "backends/linux/polling/counter_file.h"
#include "backends/linux/sysfs_ioreport_source.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

using testing::TempDir;

TEST(CpuListParsing, RangesAndSingles) {
    EXPECT_EQ(parseCpuList("0-3,8,10-11\n"), (std::vector<int>{0, 1, 2, 3, 8, 10, 11}));
    EXPECT_EQ(parseCpuList("5,1-2,2,0-127,64"), parseCpuList("0-127"));
    for (const char* bad : {"3-1", "0-", "1,,2", "-1", "0-8192", "0x1"})
        EXPECT_FALSE(parseCpuList(bad)) << bad;
}

// cpuN/cpufreq links into the policies; a link that leaves the root or is absolute is nothing.
TEST(SysfsLinks, ResolvedAgainstTheirDirectory) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"../cpufreq/policy2", "devices/system/cpu/cpufreq/policy2"},
        {"./../cpufreq//policy0/", "devices/system/cpu/cpufreq/policy0"},
        {"../../../../..", std::nullopt},
        {"../../../../../x", std::nullopt},
        {"/sys/devices", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [target, resolved] : cases)
        EXPECT_EQ(resolveLink("devices/system/cpu/cpu3", target), resolved) << target;
}

TEST(TimeInStateParsing, AscendingMergedStrict) {
    auto table = parseTimeInState("2400000 5\n800000 7\n1800000 0\n800000 1\n");
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 3u);
    EXPECT_EQ((*table)[0].kiloHertz, 800000u);
    EXPECT_EQ((*table)[0].ticks, 8u);
    EXPECT_EQ((*table)[2].kiloHertz, 2400000u);
    for (const char* bad : {"", "800000\n", "800000 x\n", "800000 1 2\n", "-1 5\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseTimeInState(bad));
    }
    EXPECT_EQ(frequencyStateName(1799600), "1800 MHz");
}

// A machine's /sys/devices/system/cpu in miniature.
struct CpuSpec {
    int cpu;
    std::optional<int> capacity;
    int policy = 0; // the cpufreq policy it belongs to
};

void writeCpus(const TempDir& sys, const std::vector<CpuSpec>& cpus, bool perPolicy,
               bool withStats = true) {
    const std::string root = "devices/system/cpu/";
    for (const CpuSpec& spec : cpus) {
        const std::string cpu = root + "cpu" + std::to_string(spec.cpu);
        const std::string policy = "policy" + std::to_string(spec.policy);
        std::string freq = cpu + "/cpufreq";
        if (perPolicy) {
            freq = root + "cpufreq/" + policy;
            sys.symlink(cpu + "/cpufreq", "../cpufreq/" + policy);
        }
        sys.write(freq + "/scaling_cur_freq", "800000\n");
        if (withStats)
            sys.write(freq + "/stats/time_in_state", "1800000 200\n800000 100\n");
        if (spec.capacity)
            sys.write(cpu + "/cpu_capacity", std::to_string(*spec.capacity) + "\n");
        sys.write(cpu + "/cpuidle/state0/time", "1000\n");
        sys.write(cpu + "/cpuidle/state1/time", "500\n");
        sys.write(cpu + "/cpuidle/driver/name", "none\n");
    }
}

std::vector<std::string> channelNames(const std::optional<IOReportChannelList>& channels) {
    std::vector<std::string> names;
    for (const auto& channel : channels.value_or(IOReportChannelList{}))
        names.push_back(channel.name.value_or("?"));
    return names;
}

TEST(SysfsIOReportSource, CpuChannelsByClusterKind) {
    struct Case {
        const char* what;
        std::vector<CpuSpec> cpus;
        bool perPolicy;
        std::string online;
        std::optional<std::pair<std::string, std::string>> hybrid; // atom, core
        std::vector<std::string> names;                            // none: no group
        bool withStats = true;
    };
    const Case cases[] = {
        {"homogeneous, per-policy", {{0, {}}, {1, {}}}, true, "0-1\n", {}, {"PCPU0", "PCPU1"}},
        {"per-CPU directories", {{0, {}}, {1, {}}}, false, "0-1\n", {}, {"PCPU0", "PCPU1"}},
        {"ARM, three capacities",
         {{0, 400, 0}, {1, 400, 0}, {2, 800, 2}, {3, 1024, 3}},
         true,
         "0-3\n",
         {},
         {"ECPU0", "ECPU1", "MCPU2", "PCPU3"}},
        {"Intel hybrid, lists over capacities",
         {{0, 1024, 0}, {1, 1000, 1}, {2, 500, 2}, {3, 500, 3}},
         true,
         "0-3\n",
         std::make_pair("2-3\n", "0-1\n"),
         {"PCPU0", "PCPU1", "ECPU2", "ECPU3"}},
        {"Intel hybrid, atom list empty",
         {{0, {}}, {1, {}}},
         true,
         "0-1\n",
         std::make_pair("\n", "0-1\n"),
         {"PCPU0", "PCPU1"}},
        {"offline CPUs", {{0, {}}, {1, {}}, {2, {}}}, true, "0,2\n", {}, {"PCPU0", "PCPU2"}},
        {"without stats nor frequency limits", {{0, {}}, {1, {}}}, true, "0-1\n", {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir sys;
        writeCpus(sys, c.cpus, c.perPolicy, c.withStats);
        sys.write("devices/system/cpu/online", c.online);
        if (c.hybrid) {
            sys.write("bus/event_source/devices/cpu_atom/cpus", c.hybrid->first);
            sys.write("bus/event_source/devices/cpu_core/cpus", c.hybrid->second);
        }
        TempDir proc;
        proc.write("stat", "cpu0 1 1 1 1\n");
        SysfsIOReportSource source(sys.path(), ::pread, proc.path());
        auto channels = source.copyChannelsInGroup("CPU Stats", "CPU Core Performance States");
        EXPECT_EQ(channelNames(channels), c.names);
        ASSERT_EQ(channels.has_value(), c.withStats);
        if (!channels)
            continue;
        const IOReportChannel& first = channels->front();
        EXPECT_EQ(first.stateCount(), 3);
        EXPECT_EQ(first.stateName(0), "800 MHz");
        EXPECT_EQ(first.stateName(1), "1800 MHz");
        EXPECT_EQ(first.stateName(2), "IDLE");
    }
}

} // namespace
} // namespace brivane::platform::linux_backend
