#include "support/staged_agent.h"

#include <chrono>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace brivane::testing {
namespace {

// The Linux agent over a fixture /sys of an ARM machine (a small and a big core, one cpufreq
// policy each): two CPU details requests a second apart, the cores' frequency counters moving
// in between, give the residencies in microseconds under the cluster keys.
TEST(LinuxAgentEndToEnd, CpuResidenciesFromCpufreqStats) {
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        GTEST_SKIP() << problem;
    }
    StagedAgent staged(
        {.bundle = BRIVANE_E2E_LINUX_BUNDLE, .executables = {BRIVANE_E2E_CLI}, .bindSys = true});
    const TempDir& tree = staged.sysTree();
    const std::string cpus = "devices/system/cpu/";
    tree.write(cpus + "online", "0-1\n");
    for (const std::string cpu : {"0", "1"}) {
        const std::string policy = "cpufreq/policy" + cpu;
        tree.write(cpus + "cpu" + cpu + "/cpu_capacity", cpu == "0" ? "400\n" : "1024\n");
        tree.write(cpus + "cpu" + cpu + "/cpuidle/state0/time", "100\n");
        tree.write(cpus + policy + "/stats/time_in_state", "600000 10\n2000000 20\n");
        tree.symlink(cpus + "cpu" + cpu + "/cpufreq", "../" + policy);
    }
    ASSERT_TRUE(staged.startAgent());

    const auto first = staged.cli({"--raw", "cpu"});
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_TRUE(nlohmann::json::parse(first.output)["residencies"].empty()) << first.output;

    tree.write(cpus + "cpufreq/policy0/stats/time_in_state", "600000 15\n2000000 20\n");
    tree.write(cpus + "cpufreq/policy1/stats/time_in_state", "600000 10\n2000000 120\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto second = staged.cli({"--raw", "cpu"});
    ASSERT_EQ(second.status, 0) << second.output;
    const auto residencies = nlohmann::json::parse(second.output)["residencies"];
    EXPECT_EQ(residencies, nlohmann::json::parse(R"({"ECPU":[50000,0],"PCPU":[0,1000000]})"))
        << second.output;
}

} // namespace
} // namespace brivane::testing
