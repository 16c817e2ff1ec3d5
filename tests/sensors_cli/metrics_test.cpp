#include "backends/posix/system/login_name.h"
#include "sensors-cli/metrics_commands.h"
#include "sensors-common/metrics_text.h"
#include "sensors-common/scrape_families.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace brivane::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

// The sample lines of one scrape's text, without # HELP and # TYPE.
std::vector<std::string> samples(const SensorSnapshot* snapshot,
                                 const std::vector<ProcessEnergy>& busiest = {}) {
    std::vector<std::string> lines;
    std::istringstream in(exposition(metricFamilies(snapshot, 0.25, busiest)));
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("#")) {
            lines.push_back(line);
        }
    }
    return lines;
}

// One reading of every kind, with labels that need escaping.
SensorSnapshot fullSnapshot() {
    SensorSnapshot snapshot;
    snapshot.temperatures = {
        {"TC0P", 45.5}, {"nvme/say \"hi\" C:\\ two\nlines/x", 30}, {"BatteryTemperature", 31}};
    snapshot.fans = {{0, "Lüfter ✓", 1200, 5000},
                     {1, std::nullopt, 900, std::nullopt},
                     {4, "thinkpad/fan1", 2900, std::nullopt}};
    snapshot.power = {
        {{"PSTR", 9.5}, {"CPUModelPower", 2}, {"BatteryVoltage", 12.5}, {"BatteryVoltage", 12}}};
    snapshot.energy = {{{"CPUEnergy", 1234.5}}};
    snapshot.graphics = {{0.5, std::nullopt, std::nullopt}};
    snapshot.accessories = {
        {{"Mouse", std::nullopt, 0.5}, {"Mouse", std::nullopt, 0.25}, {"Buds", "Left", 0.75}}};
    // An integrated card, an asleep one and one that tells everything.
    snapshot.gpus = {
        {{"card0", "0000:00:02.0", "i915", false, 0.1},
         {"card1", "0000:03:00.0", "amdgpu", true},
         {"card2", "0000:07:00.0", "nvidia", false, 0.75, 1LL << 30, 8LL << 30, 70.5, 61}}};
    snapshot.companionVersion = "1.2.3";
    snapshot.battery = {{0.5, "discharging", 4.83, 7200, std::nullopt, std::nullopt, 312}};
    snapshot.sources = {{{"hwmon", false}, {"energy", true}}};
    using Alarms = SensorSnapshot::SensorAlarms;
    snapshot.sensors = {{
        {.key = "nct/SYSTIN", .type = "temperature", .value = 31, .max = 80, .crit = 100},
        {.key = "nct/fan1", .type = "fan", .value = 1200, .min = 300, .fault = false},
        {.key = "nct/in0",
         .type = "voltage",
         .value = 1.1,
         .min = 1.2,
         .alarms = Alarms{.alarm = true}},
        {.key = "rpi_volt/in0", .type = "voltage", .alarms = Alarms{.lcrit = true}},
        {.key = "amd_energy/Esocket0", .type = "energy", .value = 5000},
    }};
    return snapshot;
}

TEST(MetricsText, EveryReadingIsOneSeriesWithItsUnitAndEscapedLabels) {
    const auto snapshot = fullSnapshot();
    const std::vector<std::string> expected = {
        "brivane_up 1",
        "brivane_scrape_duration_seconds 0.25",
        R"(brivane_companion_info{version="1.2.3"} 1)",
        R"(brivane_temperature_celsius{chip="smc",sensor="TC0P",label="CPU proximity"} 45.5)",
        R"(brivane_temperature_celsius{chip="nvme",sensor="say \"hi\" C:\\ two\nlines/x"} 30)",
        R"(brivane_temperature_celsius{chip="battery",sensor="BatteryTemperature"} 31)",
        R"(brivane_fan_speed_rpm{chip="smc",sensor="Lüfter ✓"} 1200)",
        R"(brivane_fan_speed_rpm{chip="smc",sensor="F1"} 900)",
        R"(brivane_fan_speed_rpm{chip="thinkpad",sensor="fan1"} 2900)",
        R"(brivane_fan_max_speed_rpm{chip="smc",sensor="Lüfter ✓"} 5000)",
        // The model power averages over another client's window; its counter stands in.
        R"(brivane_power_watts{chip="smc",sensor="PSTR"} 9.5)",
        "brivane_battery_voltage_volts 12.5",
        R"(brivane_energy_joules_total{chip="energy_model",sensor="CPUEnergy"} 1234.5)",
        R"(brivane_energy_joules_total{chip="amd_energy",sensor="Esocket0"} 5000)",
        R"(brivane_temperature_max_celsius{chip="nct",sensor="SYSTIN"} 80)",
        R"(brivane_temperature_crit_celsius{chip="nct",sensor="SYSTIN"} 100)",
        R"(brivane_fan_min_rpm{chip="nct",sensor="fan1"} 300)",
        R"(brivane_voltage_volts{chip="nct",sensor="in0"} 1.1)",
        R"(brivane_voltage_min_volts{chip="nct",sensor="in0"} 1.2)",
        R"(brivane_sensor_alarm{chip="nct",sensor="fan1",type="fan",kind="fault"} 0)",
        R"(brivane_sensor_alarm{chip="nct",sensor="in0",type="voltage",kind="alarm"} 1)",
        R"(brivane_sensor_alarm{chip="rpi_volt",sensor="in0",type="voltage",kind="lcrit"} 1)",
        R"(brivane_gpu_utilization_ratio{unit="device"} 0.5)",
        R"(brivane_gpu_card_asleep{card="card0",pci_address="0000:00:02.0",driver="i915"} 0)",
        R"(brivane_gpu_card_asleep{card="card1",pci_address="0000:03:00.0",driver="amdgpu"} 1)",
        R"(brivane_gpu_card_asleep{card="card2",pci_address="0000:07:00.0",driver="nvidia"} 0)",
        R"(brivane_gpu_card_utilization_ratio{card="card0",pci_address="0000:00:02.0",driver="i915"} 0.1)",
        R"(brivane_gpu_card_utilization_ratio{card="card2",pci_address="0000:07:00.0",driver="nvidia"} 0.75)",
        R"(brivane_gpu_card_memory_used_bytes{card="card2",pci_address="0000:07:00.0",driver="nvidia"} 1073741824)",
        R"(brivane_gpu_card_memory_total_bytes{card="card2",pci_address="0000:07:00.0",driver="nvidia"} 8589934592)",
        R"(brivane_gpu_card_power_watts{card="card2",pci_address="0000:07:00.0",driver="nvidia"} 70.5)",
        R"(brivane_gpu_card_temperature_celsius{card="card2",pci_address="0000:07:00.0",driver="nvidia"} 61)",
        // A series twice in one scrape would make consumers reject the whole scrape.
        R"(brivane_accessory_battery_ratio{name="Mouse"} 0.5)",
        R"(brivane_accessory_battery_ratio{name="Mouse #2"} 0.25)",
        R"(brivane_accessory_battery_ratio{name="Buds",part="Left"} 0.75)",
        "brivane_battery_level_ratio 0.5",
        R"(brivane_battery_state{state="discharging"} 1)",
        "brivane_battery_power_watts 4.83",
        "brivane_battery_time_to_empty_seconds 7200",
        "brivane_battery_charge_cycles 312",
        R"(brivane_source_up{source="hwmon"} 0)",
        R"(brivane_source_up{source="energy"} 1)",
        R"(brivane_process_energy_impact{name="make"} 3)",
    };
    EXPECT_EQ(samples(&snapshot, {{"make", 3}}), expected);

    EXPECT_EQ(samples(nullptr),
              (std::vector<std::string>{"brivane_up 0", "brivane_scrape_duration_seconds 0.25"}));
}

// The CPUs' counters included, which come from the CPU details.
TEST(MetricsText, EveryFamilyIsDocumentedAndLintClean) {
    FetchedSnapshot fetched;
    fetched.snapshot = fullSnapshot();
    fetched.busiest = {{"make", 3}};
    CPUDetailsSnapshot cpu;
    cpu.idleStates = {{{"PCPU", {{"C1", 3}, {"C6", 8}}}}};
    cpu.throttling =
        CPUDetailsSnapshot::Throttling{{{"PCPU", {5, 1.5}}, {"ECPU", {1, {}}}}, {{"0", {2, 0.3}}}};
    fetched.cpu = std::make_shared<const CPUDetailsSnapshot>(cpu);
    const auto families = scrapeFamilies(fetched, 0.25);
    const auto text = exposition(families);
    for (const char* line : {R"(brivane_cpu_idle_state_seconds_total{cluster="PCPU",state="C6"} 8)",
                             R"(brivane_cpu_core_throttles_total{cluster="ECPU"} 1)",
                             R"(brivane_cpu_package_throttled_seconds_total{package="0"} 0.3)"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    testing::TempDir directory;
    directory.write("scrape.prom", text);
    const auto command = "promtool check metrics < " + directory / "scrape.prom" + " > " +
                         directory / "lint" + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(testing::readFile(directory / "lint"), "");
    const auto documentation = testing::readFile(BRIVANE_SOURCE_DIR "/docs/metrics.md");
    for (const auto& family : families) {
        EXPECT_NE(documentation.find("| `" + family.name + "` |"), std::string::npos)
            << family.name;
    }
}

// 3,000 accessories of one name took 18 s per scrape when each suffix rescanned the samples.
TEST(MetricsText, ManySeriesOfOneNameStayCheap) {
    SensorSnapshot snapshot;
    snapshot.accessories.emplace(30'000, SensorSnapshot::AccessoryReading{"Pen", std::nullopt, 1});
    snapshot.accessories->push_back({"Pen #3", std::nullopt, 1});
    const auto start = std::chrono::steady_clock::now();
    const auto lines = samples(&snapshot);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size());
    EXPECT_EQ(lines.back(), R"(brivane_accessory_battery_ratio{name="Pen #3 #2"} 1)");
}

// A textfile left with old readings would keep reporting them after the agent stopped.
TEST(MetricsCommands, AnUnreachableAgentStillReplacesTheFileWhole) {
    testing::TempDir directory;
    directory.write("brivane.prom", "brivane_up 1\nbrivane_temperature_celsius 40\n", 0600);
    CliOptions options;
    options.action = CliOptions::Action::metrics;
    options.endpoint = directory / "no-agent";
    options.output = directory / "brivane.prom";
    EXPECT_EQ(runMetrics(options), 1);

    const auto text = testing::readFile(*options.output);
    // Several users write to one folder: every series says whose it is.
    const auto user = "{user=\"" + platform::posix::loginName() + "\"} ";
    EXPECT_NE(text.find("\nbrivane_up" + user + "0\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("celsius"), std::string::npos) << text;
    EXPECT_EQ(fs::status(*options.output).permissions(), fs::perms(0644));
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);

    // A folder shared with other users may be swapped for a link to one of ours: not followed.
    directory.symlink("linked", ".");
    options.output = directory / "linked/brivane.prom";
    EXPECT_EQ(runMetrics(options), 4);
}

} // namespace
} // namespace brivane::cli
