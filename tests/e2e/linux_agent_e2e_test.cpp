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
    // /proc/stat's USER_HZ ticks (10 ms): user nice system idle iowait irq softirq.
    tree.write(".proc-stat", "cpu  300 0 50 1500 0 0 0\ncpu0 100 0 50 1000 0 0 0\n"
                             "cpu1 200 0 0 500 0 0 0\nintr 0\n");
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

    // time_in_state counts idle time too: the CPU's idle time leaves the lowest frequencies
    // first. cpu0: 50 ms at 600 MHz, 20 ms of it idle; cpu1: 1 s at 2 GHz, 300 ms idle.
    tree.write(cpus + "cpufreq/policy0/stats/time_in_state", "600000 15\n2000000 20\n");
    tree.write(cpus + "cpufreq/policy1/stats/time_in_state", "600000 10\n2000000 120\n");
    tree.write(".proc-stat", "cpu  300 0 50 1532 0 0 0\ncpu0 100 0 50 1002 0 0 0\n"
                             "cpu1 200 0 0 530 0 0 0\nintr 0\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(request({"--raw", "cpu"})["residencies"],
              json::parse(R"({"ECPU":[30000,0],"PCPU":[0,700000]})"));
}

// An Intel laptop as most are: intel_pstate without a stats table, an i915 iGPU, a battery
// discharging at 4.83 W. Files and units after Documentation/ABI/testing/sysfs-class-power,
// sysfs-driver-intel-i915-hwmon and admin-guide/pm/intel_pstate.rst; /proc/stat in USER_HZ.
TEST(LinuxAgentEndToEnd, AnIntelLaptopWithoutCpufreqStats) {
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
    const std::string cpus = "devices/system/cpu/";
    tree.write(cpus + "online", "0\n");
    tree.symlink(cpus + "cpu0/cpufreq", "../cpufreq/policy0");
    tree.writeFiles(cpus + "cpufreq/policy0", "scaling_driver=intel_pstate;cpuinfo_min_freq=400000;"
                                              "cpuinfo_max_freq=4700000;scaling_cur_freq=2600000");
    tree.writeFiles(cpus + "cpu0/cpuidle/state0", "name=POLL;time=100");
    tree.write(".proc-stat", "cpu0 1000 0 0 5000 0 0 0\nintr 0\n");
    const std::string gpu = "devices/pci0000:00/0000:00:02.0";
    tree.writeFiles(gpu, "uevent=DRIVER=i915;power/runtime_status=active");
    tree.writeFiles(gpu + "/drm/card0", "gt/gt0/rc6_residency_ms=10000");
    tree.symlink(gpu + "/drm/card0/device", "../..");
    tree.symlink("class/drm/card0", "../../" + gpu + "/drm/card0");
    addPowerSupply(tree, "BAT0", "LNXSYSTM:00/PNP0C0A:00",
                   "type=Battery;status=Discharging;capacity=80;power_now=4830000;"
                   "voltage_now=12100000;energy_now=40000000;energy_full=50000000;"
                   "energy_full_design=57000000;cycle_count=312");
    ASSERT_TRUE(staged.startAgent());
    EXPECT_TRUE(request({"--raw", "cpu"})["residencies"].empty());
    request({"--raw", "snapshot"}); // the idle counters' first look

    // 600 ms busy at 2.6 GHz; the GPU idle 0 ms of the next interval.
    tree.write(".proc-stat", "cpu0 1060 0 0 5040 0 0 0\nintr 0\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const json snapshot = request({"--raw", "snapshot"});
    EXPECT_EQ(snapshot["graphics"], json::parse(R"({"utilization":1})"));
    const json power = snapshot["power"];
    ASSERT_EQ(power.size(), 2u) << power;
    EXPECT_EQ(power[0], json::parse(R"({"key":"BatteryPower","value":4.83})"));
    EXPECT_EQ(power[1], json::parse(R"({"key":"BatteryVoltage","value":12.1})"));
    EXPECT_EQ(snapshot["battery"]["level"], 0.8);
    EXPECT_EQ(snapshot["battery"]["state"], "discharging");
    EXPECT_NEAR(snapshot["battery"]["timeToEmpty"].get<double>(), 40.0 / 4.83 * 3600, 1e-6);
    EXPECT_EQ(snapshot["battery"]["cycleCount"], 312);

    // 23 bins from 400 MHz to 4.7 GHz in 200 MHz steps: 2.6 GHz is the twelfth.
    const json residencies = request({"--raw", "cpu"})["residencies"];
    ASSERT_EQ(residencies["PCPU"].size(), 23u) << residencies;
    EXPECT_EQ(residencies["PCPU"][11], 600000);
}

} // namespace
} // namespace brivane::testing
