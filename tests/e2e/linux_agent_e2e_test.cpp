#include "support/staged_agent.h"
#include "support/sysfs_fixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

namespace brivane::testing {
namespace {

using nlohmann::json;

// The Linux agent as an unprivileged user over a small laptop's /sys, with a small and a big
// core (one cpufreq policy each): each reading lands in its place, a failure the SMC meets on
// every poll is printed once, and CPU residencies are the counters' moves in microseconds.
TEST(LinuxAgentEndToEnd, ReportsTheSensorsAndCpuResidenciesOfAFixtureLaptop) {
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        GTEST_SKIP() << problem;
    }
    StagedAgent staged(
        {.bundle = BRIVANE_E2E_LINUX_BUNDLE, .executables = {BRIVANE_E2E_CLI}, .bindSys = true});
    const auto request = [&](const std::vector<std::string>& arguments) {
        const auto answer = staged.cli(arguments);
        EXPECT_EQ(answer.status, 0) << answer.output;
        return json::parse(answer.output, nullptr, false);
    };
    const TempDir& tree = staged.sysTree();
    addLinuxLaptop(tree);
    const std::string cpus = "devices/system/cpu/";
    tree.write(cpus + "online", "0-1\n");
    for (const std::string cpu : {"0", "1"}) {
        tree.write(cpus + "cpu" + cpu + "/cpu_capacity", cpu == "0" ? "400\n" : "1024\n");
        tree.write(cpus + "cpu" + cpu + "/cpuidle/state0/time", "100\n");
        tree.write(cpus + "cpufreq/policy" + cpu + "/stats/time_in_state",
                   "600000 10\n2000000 20\n");
        tree.symlink(cpus + "cpu" + cpu + "/cpufreq", "../cpufreq/policy" + cpu);
    }
    ASSERT_TRUE(staged.startAgent());
    EXPECT_TRUE(request({"--raw", "cpu"})["residencies"].empty());
    json snapshot;
    for (int poll = 0; poll < 3; ++poll) {
        snapshot = request({"--raw", "snapshot"});
    }
    // Absent SMC sensors (−127 °C, 0 °C) and a chip's 150 °C are dropped; the other chips
    // come after the SMC and before the battery; the fan after an unreadable SMC fan keeps
    // its number.
    EXPECT_EQ(snapshot["temperatures"], json::parse(R"([{"key":"TC0P","value":45.25},
        {"key":"coretemp/Core 0","value":50},{"key":"BatteryTemperature","value":30.5}])"));
    EXPECT_EQ(snapshot["fans"], json::parse(R"([
        {"id":0,"name":"Left side","rpm":1200,"maximumRPM":6000},
        {"id":2,"name":"thinkpad/fan1","rpm":2900}])"));
    EXPECT_EQ(snapshot["power"].back(), json::parse(R"({"key":"BatteryVoltage","value":12.6})"));
    EXPECT_EQ(snapshot["graphics"], json::parse(R"({"utilization":0.37})"));

    // The agent is the first thing the stage ran, so its output is the first scratch file.
    std::ostringstream printed;
    printed << std::ifstream(staged.path("out1")).rdbuf();
    const std::string line = "Error read(F1Ac): (iokit/common) general error\n";
    const auto first = printed.str().find(line);
    EXPECT_NE(first, std::string::npos) << printed.str();
    EXPECT_EQ(printed.str().find(line, first + 1), std::string::npos) << printed.str();

    tree.write(cpus + "cpufreq/policy0/stats/time_in_state", "600000 15\n2000000 20\n");
    tree.write(cpus + "cpufreq/policy1/stats/time_in_state", "600000 10\n2000000 120\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(request({"--raw", "cpu"})["residencies"],
              json::parse(R"({"ECPU":[50000,0],"PCPU":[0,1000000]})"));
}

} // namespace
} // namespace brivane::testing
