#include "support/staged_agent.h"
#include "support/sysfs_fixture.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <thread>

namespace brivane::testing {
namespace {

using nlohmann::json;

// A Linux agent over a fixture /sys, asked through the CLI; skipped where no fixture can be bound.
class LinuxAgentEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
            GTEST_SKIP() << problem;
        }
    }
    bool start(const std::function<void(const TempDir&)>& fill) {
        fill(staged.sysTree());
        return staged.startAgent() != nullptr;
    }
    json raw(const std::string& request) {
        const auto answer = staged.cli({"--raw", request});
        EXPECT_EQ(answer.status, 0) << answer.output;
        return json::parse(answer.output, nullptr, false);
    }
    // Polls snapshots, as a client watching would, until `done` holds of one (true) or `limit`
    // passes (false).
    bool pollSnapshots(std::chrono::seconds limit, const std::function<bool(const json&)>& done,
                       json& last) {
        return pollUntil(limit, [&] {
            last = raw("snapshot");
            if (done(last)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            return false;
        });
    }
    // The agent is the first thing a stage runs, so its output is the first scratch file.
    std::string agentOutput() const { return readFile(staged.path("out1")); }
    std::size_t timesPrinted(const std::string& text) const {
        const auto printed = agentOutput();
        std::size_t times = 0;
        for (auto at = printed.find(text); at != std::string::npos;
             at = printed.find(text, at + 1)) {
            ++times;
        }
        return times;
    }

    StagedAgent staged{
        {.bundle = BRIVANE_E2E_LINUX_BUNDLE, .executables = {BRIVANE_E2E_CLI}, .bindSys = true}};
};

// The Linux agent as an unprivileged user over a small laptop's /sys, with a small and a big
// core (one cpufreq policy each): each reading lands in its place, a failure the SMC meets on
// every poll is printed once, and CPU residencies are the counters' moves in microseconds.
TEST_F(LinuxAgentEndToEnd, ReportsTheSensorsAndCpuResidenciesOfAFixtureLaptop) {
    const std::string cpus = "devices/system/cpu/";
    ASSERT_TRUE(start([&](const TempDir& tree) {
        addLinuxLaptop(tree);
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
    }));
    EXPECT_TRUE(raw("cpu")["residencies"].empty());
    json snapshot; // a slow machine (a sanitizer build) may need a second look
    pollSnapshots(
        std::chrono::seconds(10), [](const json& s) { return s["temperatures"].size() == 3; },
        snapshot);
    // Absent SMC sensors (−127 °C, 0 °C) and a chip's 150 °C are dropped; the other chips
    // come after the SMC and before the battery; the fan after an unreadable SMC fan keeps
    // its number.
    EXPECT_EQ(snapshot["temperatures"], json::parse(R"([{"key":"TC0P","value":45.25},
        {"key":"coretemp/Core 0","value":50},{"key":"BatteryTemperature","value":30.5}])"));
    EXPECT_EQ(snapshot["fans"], json::parse(R"([
        {"id":0,"name":"Left side","rpm":1200,"maximumRPM":6000,"minimumRPM":1000},
        {"id":2,"name":"thinkpad/fan1","rpm":2900}])"));
    EXPECT_EQ(snapshot["power"].back(), json::parse(R"({"key":"BatteryVoltage","value":12.6})"));
    EXPECT_EQ(snapshot["graphics"], json::parse(R"({"utilization":0.37})"));
    EXPECT_EQ(timesPrinted("Error read(F1Ac): (iokit/common) general error\n"), 1u)
        << agentOutput();

    // time_in_state counts idle time too: the CPU's idle time leaves the lowest frequencies
    // first. cpu0: 50 ms at 600 MHz, 20 ms of it idle; cpu1: 1 s at 2 GHz, 300 ms idle.
    const TempDir& tree = staged.sysTree();
    tree.write(cpus + "cpufreq/policy0/stats/time_in_state", "600000 15\n2000000 20\n");
    tree.write(cpus + "cpufreq/policy1/stats/time_in_state", "600000 10\n2000000 120\n");
    tree.write(".proc-stat", "cpu  300 0 50 1532 0 0 0\ncpu0 100 0 50 1002 0 0 0\n"
                             "cpu1 200 0 0 530 0 0 0\nintr 0\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(raw("cpu")["residencies"], json::parse(R"({"ECPU":[30000,0],"PCPU":[0,700000]})"));
}

// An Intel laptop as most are: intel_pstate without a stats table, an i915 iGPU, a battery
// discharging at 4.83 W. Files and units after Documentation/ABI/testing/sysfs-class-power,
// sysfs-driver-intel-i915-hwmon and admin-guide/pm/intel_pstate.rst; /proc/stat in USER_HZ.
TEST_F(LinuxAgentEndToEnd, AnIntelLaptopWithoutCpufreqStats) {
    ASSERT_TRUE(start([](const TempDir& tree) {
        const std::string cpus = "devices/system/cpu/";
        tree.write(cpus + "online", "0\n");
        tree.symlink(cpus + "cpu0/cpufreq", "../cpufreq/policy0");
        tree.writeFiles(cpus + "cpufreq/policy0",
                        "scaling_driver=intel_pstate;cpuinfo_min_freq=400000;"
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
    }));
    EXPECT_TRUE(raw("cpu")["residencies"].empty());
    raw("snapshot"); // the idle counters' first look

    // 600 ms busy at 2.6 GHz; the GPU idle 0 ms until the card's next read, a second on.
    staged.sysTree().write(".proc-stat", "cpu0 1060 0 0 5040 0 0 0\nintr 0\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const json snapshot = raw("snapshot");
    EXPECT_EQ(snapshot["graphics"], json::parse(R"({"utilization":1})"));
    EXPECT_EQ(snapshot["power"], json::parse(R"([{"key":"BatteryPower","value":4.83},
        {"key":"BatteryVoltage","value":12.1}])"));
    EXPECT_EQ(snapshot["battery"]["level"], 0.8);
    EXPECT_EQ(snapshot["battery"]["state"], "discharging");
    EXPECT_NEAR(snapshot["battery"]["timeToEmpty"].get<double>(), 40.0 / 4.83 * 3600, 1e-6);
    EXPECT_EQ(snapshot["battery"]["cycleCount"], 312);

    // 23 bins from 400 MHz to 4.7 GHz in 200 MHz steps: 2.6 GHz is the twelfth.
    const json residencies = raw("cpu")["residencies"];
    ASSERT_EQ(residencies["PCPU"].size(), 23u) << residencies;
    EXPECT_EQ(residencies["PCPU"][11], 600000);
}

// A desktop as the agent sees it: stable names, no ghost fans or inputs, the card's power in
// watts, one plain line instead of SMC errors, a FIFO planted in the tree held against nobody,
// a fan that starts turning, and a USB cooler plugged in while a client polls.
TEST_F(LinuxAgentEndToEnd, ReadsADesktopBoardAsItIsAndFindsWhatIsPluggedIn) {
    ASSERT_TRUE(start([](const TempDir& sys) {
        addDesktop(sys);
        addHwmonChip(sys, {"hwmon9", "platform/pipe.0", "temp1_input=35000"});
        ::mkfifo((sys / "devices/platform/pipe.0/hwmon/hwmon9/name").c_str(), 0644);
        ::mkfifo((sys / "devices/platform/nct6775.656/hwmon/hwmon0/temp3_input").c_str(), 0644);
    }));
    json snapshot;
    EXPECT_TRUE(pollSnapshots(
        std::chrono::seconds(10),
        [](const json& s) { return s["temperatures"].size() == 5 && s["power"].size() == 2; },
        snapshot))
        << snapshot;
    EXPECT_EQ(snapshot["temperatures"], json::parse(R"([
        {"key":"amdgpu@0000:0b:00.0/edge","value":45},{"key":"k10temp@0000:00:18.3/Tctl","value":33},
        {"key":"nct6798/SYSTIN","value":31},{"key":"nvme@0000:01:00.0/Composite","value":38.85},
        {"key":"nvme@0000:04:00.0/Composite","value":41.85}])"));
    EXPECT_EQ(snapshot["fans"],
              json::parse(R"([{"id":0,"name":"nct6798/fan1","rpm":1200,"minimumRPM":300}])"));
    EXPECT_EQ(snapshot["power"], json::parse(R"([{"key":"amdgpu@0000:0b:00.0/PPT","value":19},
        {"key":"GPUModelPower","value":19}])"));
    // Limits, a rail below its minimum with its alarm raised, a rail's maximum alone (as
    // `sensors` shows it), an opened chassis.
    const json sensors = snapshot["sensors"];
    ASSERT_EQ(sensors.size(), 10u) << sensors;
    EXPECT_EQ(json(std::vector<json>(sensors.begin() + 3, sensors.begin() + 8)), json::parse(R"([
        {"key":"nct6798/SYSTIN","type":"temperature","unit":"celsius","value":31,"max":80,
         "alarms":{"alarm":false}},
        {"key":"nct6798/fan1","type":"fan","unit":"rpm","value":1200,"min":300,"alarms":{"alarm":false}},
        {"key":"nct6798/in0","type":"voltage","unit":"volts","value":1.104,"min":1.2,"max":1.744,
         "alarms":{"alarm":true}},
        {"key":"nct6798/in1","type":"voltage","unit":"volts","max":1},
        {"key":"nct6798/intrusion0","type":"intrusion","alarms":{"alarm":true}}])"));

    const TempDir& sys = staged.sysTree();
    sys.write("devices/platform/nct6775.656/hwmon/hwmon0/fan3_input", "900\n");
    addHwmonChip(sys, {"hwmon7", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/0003:1E71:2007.0003",
                       "name=kraken3;temp1_label=Coolant temp;temp1_input=31000"});
    EXPECT_TRUE(pollSnapshots(
        std::chrono::seconds(60),
        [](const json& s) { return s["temperatures"].size() == 6 && s["fans"].size() == 2; },
        snapshot))
        << snapshot;
    EXPECT_EQ(snapshot["temperatures"][2],
              json::parse(R"({"key":"kraken3@1-4:1.0/Coolant temp","value":31})"));
    EXPECT_EQ(snapshot["fans"][1], json::parse(R"({"id":2,"name":"nct6798/fan3","rpm":900})"));

    EXPECT_EQ(timesPrinted("No Apple SMC on this machine (no applesmc or macsmc_hwmon hardware "
                           "monitor): the other hardware monitors are read instead.\n"),
              1u)
        << agentOutput();
    EXPECT_EQ(timesPrinted("Error"), 0u) << agentOutput();
}

// A board's fan control outputs, 0 to 255, in the document, the snapshot view and the metrics:
// pwm1 at half duty under manual control, pwm2 with its control off, which runs the fan at full
// speed (its "_enable" 0 does not switch a sensor off, as it would a temperature's).
TEST_F(LinuxAgentEndToEnd, FanControlOutputsReachTheDocumentTheViewAndTheMetrics) {
    ASSERT_TRUE(start([](const TempDir& sys) {
        addHwmonChip(sys, {"hwmon0", "platform/nct6775.656",
                           "name=nct6798;fan1_input=1200;pwm1=128;pwm1_enable=1;pwm1_mode=1;"
                           "pwm2=255;pwm2_enable=0"});
    }));
    json snapshot;
    EXPECT_TRUE(pollSnapshots(
        std::chrono::seconds(10), [](const json& s) { return s["sensors"].size() == 3; }, snapshot))
        << snapshot;
    EXPECT_EQ(snapshot["sensors"][1], json::parse(R"({"key":"nct6798/pwm1","type":"pwm",
        "unit":"percent","value":50.19607843137255})"));
    EXPECT_EQ(snapshot["sensors"][2]["value"], 100);
    EXPECT_NE(staged.cli({"snapshot"})
                  .output.find("Fan duty\n"
                               "  sensor        name          group        %\n"
                               "  nct6798/pwm1  nct6798 pwm1  mainboard   50\n"
                               "  nct6798/pwm2  nct6798 pwm2  mainboard  100\n"),
              std::string::npos);
    const auto metrics = staged.cli({"metrics"}).output;
    EXPECT_NE(metrics.find("# TYPE brivane_fan_duty_percent gauge\n"), std::string::npos);
    EXPECT_NE(metrics.find(R"(chip="nct6798",sensor="pwm1"} 50.19607843137255)"), std::string::npos)
        << metrics;
}

// A dual-fan Apple-silicon laptop: both fans under their SMC keys, the channel the SMC table
// does not know under its chip, and the battery's temperature once.
TEST_F(LinuxAgentEndToEnd, ShowsBothFansOfADualFanAppleSiliconMac) {
    ASSERT_TRUE(start(addAsahiMacBookPro));
    json snapshot;
    EXPECT_TRUE(pollSnapshots(
        std::chrono::seconds(10),
        [](const json& s) { return s["fans"].size() == 2 && s["power"].size() == 3; }, snapshot))
        << snapshot;
    EXPECT_EQ(snapshot["temperatures"], json::parse(R"([{"key":"TB0T","value":30.5},
        {"key":"TH0x","value":38.25},{"key":"BatteryTemperature","value":30.5}])"));
    EXPECT_EQ(snapshot["fans"], json::parse(R"([
        {"id":0,"name":"Fan 1","rpm":1200,"maximumRPM":5700,"minimumRPM":1200},
        {"id":1,"name":"Fan 2","rpm":1250,"maximumRPM":5700,"minimumRPM":1200}])"));
    // Their minima, which no `sensors` entry carries, in the view and the metrics.
    EXPECT_NE(staged.cli({"snapshot"}).output.find("min 1200 rpm"), std::string::npos);
    EXPECT_NE(staged.cli({"metrics"}).output.find(R"(chip="smc",sensor="Fan 2"} 1200)"),
              std::string::npos);
    EXPECT_EQ(snapshot["power"], json::parse(R"([{"key":"PSTR","value":12.5},
        {"key":"macsmc_hwmon/Mystery Rail","value":1},{"key":"BatteryVoltage","value":12.6}])"));
}

// The three-card machine's processes by GPU use, through the agent as its unprivileged user:
// the fixture's descriptors bound over running processes' own, the NVIDIA card's processes
// from the library stand-in once a watching client had the card read, shares over the time
// between two requests. Prints what a user sees.
TEST_F(LinuxAgentEndToEnd, RanksItsUsersProcessesByGpuUseOnThreeCards) {
    std::vector<std::unique_ptr<ChildProcess>> processes;
    std::vector<int> pids;
    for (const std::string name : {"compositor", "game", "broken", "gone", "child", "trainer"}) {
        std::filesystem::copy_file("/bin/sleep", staged.path(name));
        processes.push_back(std::make_unique<ChildProcess>(
            staged.asAgentUser({staged.path(name), "60"}), staged.environment(), "/dev/null"));
        pids.push_back(processes.back()->pid());
    }
    StagedAgent agent{{.bundle = BRIVANE_E2E_LINUX_BUNDLE,
                       .executables = {BRIVANE_E2E_CLI},
                       .environment = {"LD_LIBRARY_PATH=" + staged.path("lib"),
                                       "BRIVANE_FAKE_NVML_PIDS=" + std::to_string(pids[5]) + " " +
                                           std::to_string(pids[1])},
                       .bindSys = true}};
    std::filesystem::create_directory(staged.path("lib"));
    std::filesystem::copy_file(BRIVANE_E2E_FAKE_NVML, staged.path("lib/libnvidia-ml.so.1"));
    addThreeGraphicsCards(agent.sysTree());
    addGpuClientProcesses(agent.sysTree(), ".proc/", pids);
    ASSERT_TRUE(agent.startAgent());
    const auto gpu = [&](std::string option) {
        return agent.cli({"processes", "gpu", option}).output;
    };
    EXPECT_TRUE(pollUntil(std::chrono::seconds(10), [&] { // the NVIDIA card read
        return agent.cli({"--raw", "snapshot"}).output.find("memoryTotal") != std::string::npos;
    }));
    gpu("--raw");                        // the first look
    const auto play = [&](int seconds) { // the game's render engine busy `seconds` in all
        agent.sysTree().write(".proc/" + std::to_string(pids[1]) + "/fdinfo/3",
                              "drm-driver:\ti915\ndrm-pdev:\t0000:00:02.0\ndrm-client-id:\t2\n"
                              "drm-engine-render:\t" +
                                  std::to_string(seconds) + "000000000 ns\n");
        std::this_thread::sleep_for(std::chrono::seconds(2));
    };
    play(2);
    const auto ranked = json::parse(gpu("--raw"), nullptr, false);
    ASSERT_EQ(ranked["gpu"].size(), 3u) << ranked; // the child's client is the compositor's
    const double seconds = ranked["gpuInterval"];
    EXPECT_EQ(ranked["gpu"][0]["pid"], pids[1]);
    EXPECT_NEAR(ranked["gpu"][0]["busyPercent"].get<double>(), 150 / seconds, 0.1);
    EXPECT_EQ(ranked["gpu"][0]["cards"].size(), 3u); // the Intel, the sleeping AMD, the NVIDIA
    EXPECT_EQ(ranked["gpu"][1]["pid"], pids[5]);
    EXPECT_EQ(ranked["gpu"][1]["cards"][0]["enginePercent"], json::parse(R"({"sm":25,"enc":0})"));
    EXPECT_EQ(ranked["gpu"][2]["pid"], pids[0]);
    EXPECT_EQ(ranked["gpu"][2]["memoryBytes"], 3 << 20);
    play(4);
    std::cout << "$ brivane-sensors processes gpu\n"
              << gpu("--all") << "$ brivane-sensors snapshot\n"
              << agent.cli({"snapshot"}).output;
}

} // namespace
} // namespace brivane::testing
