#include "backends/sim/canned_outputs.h"
#include "backends/sim/sim_ioreport_source.h"
#include "backends/sim/sim_process_table.h"
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "platform/uptime_clock.h"
#include "readers/accessory_reader.h"
#include "readers/cpu_details_reader.h"
#include "readers/energy_power_reader.h"
#include "readers/process_details_reader.h"
#include "readers/process_status_line.h"
#include "readers/storage_health_reader.h"
#include "support/recording_tool_runner.h"
#include "support/sysfs_fixture.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <plist/plist.h>

namespace brivane {
namespace {

using Accessory = SensorSnapshot::AccessoryReading;

std::string str(const std::string& key, const std::string& value) {
    return "<key>" + key + "</key><string>" + value + "</string>\n";
}
std::string num(const std::string& key, const std::string& value) {
    const bool real = value.find_first_of(".en") != std::string::npos;
    const std::string tag = real ? "real" : "integer";
    return "<key>" + key + "</key><" + tag + ">" + value + "</" + tag + ">\n";
}
std::string capacity(const std::string& value) {
    return num("Current Capacity", value);
}
// One power source as the power-management tool prints it: a whole XML property list.
std::string typed(const std::string& type, const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" +
           str("Type", type) + entries + "</dict>\n</plist>\n";
}
std::string accessory(const std::string& name, const std::string& entries) {
    return typed("Accessory Source", str("Name", name) + entries);
}
// A source of accessory group G; part "Combined" stands for the whole group.
std::string member(std::optional<std::string> name, const std::string& part,
                   const std::string& entries) {
    return typed("Accessory Source", (name ? str("Name", *name) : "") +
                                         str("Group Identifier", "G") +
                                         str("Part Identifier", part) + entries);
}
std::string parts(const std::vector<std::string>& dictionaries) {
    std::string array = "<key>Combined Parts</key><array>\n";
    for (const auto& entries : dictionaries)
        array += "<dict>" + entries + "</dict>\n";
    return array + "</array>\n";
}
std::string combined(const std::string& partEntries) {
    return member("P", "Combined", capacity("60") + partEntries);
}

TEST(AccessoryParseTest, ReadsPresentAccessorySourcesAndTheirParts) {
    const Accessory m45{"M", {}, 0.45}, p60{"P", {}, 0.6};
    const std::string good = accessory("M", capacity("45"));
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<array>";
    const struct Case {
        const char* name;
        std::string output;
        std::vector<Accessory> readings;
    } cases[] = {
        {"other type", typed("InternalBattery", str("Name", "B") + capacity("50")), {}},
        {"not present", accessory("M", capacity("45") + "<key>Is Present</key><false/>"), {}},
        {"present", accessory("M", capacity("45") + "<key>Is Present</key><true/>"), {m45}},
        {"presence not a boolean", accessory("M", capacity("45") + str("Is Present", "no")), {m45}},
        {"header text before the first document", "Now drawing from 'Battery'\n" + good, {m45}},
        {"bytes around a declaration", std::string("\0\xff<?xml\0", 8) + good, {m45}},
        {"unclosed brackets",
         std::string(2000, '<') + "<?xml" + std::string(600, '[') + "<array>" + good,
         {m45}},
        {"long unclosed text",
         "<?xml version=\"1.0\"?><plist>" + std::string(100000, 'x') + good,
         {m45}},
        {"deep nesting", "<?xml version=\"1.0\"?><plist version=\"1.0\">" + deep, {}},
        {"broken document between good ones",
         accessory("A", capacity("10")) + "<?xml garbage <dict>" + accessory("B", capacity("20")),
         {{"A", {}, 0.1}, {"B", {}, 0.2}}},
        {"empty name", accessory("", capacity("45")), {}},
        {"no name", typed("Accessory Source", capacity("45")), {}},
        {"parts under the group name, later members too",
         combined(parts({str("Part Identifier", "L") + capacity("50"),
                         str("Part Identifier", "R") + capacity("70")})) +
             member("Q", "C", capacity("30")),
         {{"P", "L", 0.5}, {"P", "R", 0.7}, {"P", "C", 0.3}}},
        {"no part has a capacity",
         combined(parts({str("Part Identifier", "L"), str("Part Identifier", "R")})),
         {p60}},
        {"a part that is not a dictionary",
         combined("<key>Combined Parts</key><array><dict>" + str("Part Identifier", "L") +
                  capacity("50") + "</dict><string>x</string></array>"),
         {p60}},
        {"only the usable part counts",
         combined(parts({str("Part Identifier", "L") + capacity("150"), capacity("20")})),
         {{"P", {}, 0.2}}},
        {"the last combined entry names the members before it",
         member("O", "Combined", capacity("40")) + member("Q", "C", capacity("50")) +
             member("P", "Combined", capacity("50")),
         {{"P", {}, 0.4}, {"P", "C", 0.5}, {"P", {}, 0.5}}},
        {"unnamed last combined entry: members keep their own names",
         member("P", "Combined", capacity("50")) + member("Q", "C", capacity("50")) +
             member(std::nullopt, "Combined", capacity("40")),
         {{"P", {}, 0.5}, {"Q", "C", 0.5}}},
        {"an empty group name silences the group",
         member("", "Combined", capacity("50")) + member("Q", "C", capacity("50")),
         {}},
        {"simulated laptop",
         platform::sim::cannedPmsetOutput(),
         {{"Magic Mouse", {}, 0.64},
          {"Studio Buds", "Left", 0.8},
          {"Studio Buds", "Right", 0.74},
          {"Studio Buds", "Case", 0.45}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Accessory::parse(c.output), c.readings);
    }
}

TEST(AccessoryParseTest, LevelIsCurrentOverMaximumWithinBounds) {
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {capacity("45"), 0.45},
        {capacity("80") + num("Max Capacity", "200"), 0.4},
        {capacity("0"), 0.0},
        {capacity("37.5") + num("Max Capacity", "75.0"), 0.5},
        {capacity("30") + str("Max Capacity", "60"), 0.3},
        {capacity("80") + num("Max Capacity", "0"), std::nullopt},
        {capacity("120"), std::nullopt},
        {capacity("-1"), std::nullopt},
        {capacity("nan"), std::nullopt},
        {capacity("1") + num("Max Capacity", "inf"), std::nullopt},
        // Read as unsigned, this negative maximum would make any capacity fit.
        {capacity("5") + num("Max Capacity", "-9223372036854775808"), std::nullopt},
        {capacity("18446744073709551615") + num("Max Capacity", "100"), std::nullopt},
        {str("Current Capacity", "45"), std::nullopt},
    };
    for (const auto& [capacities, level] : cases) {
        SCOPED_TRACE(capacities);
        EXPECT_EQ(Accessory::parse(accessory("M", capacities)),
                  (level ? std::vector<Accessory>{{"M", {}, *level}} : std::vector<Accessory>{}));
    }
}

constexpr std::int64_t saturated = std::numeric_limits<std::int64_t>::max();

std::string plist(const std::string& dictionary) {
    return "<?xml version=\"1.0\"?><plist><dict>" + dictionary + "</dict></plist>";
}
std::string description(const std::string& device, const std::string& smartEntries) {
    return plist("<key>DeviceIdentifier</key><string>" + device + "</string>" +
                 "<key>SMARTDeviceSpecificKeysMayVaryNotGuaranteed</key><dict>" + smartEntries +
                 "</dict>");
}
std::string halves(const std::string& name, const std::string& low, const std::string& high) {
    return num(name + "_0", low) + num(name + "_1", high);
}

TEST(StorageHealthParseTest, SimulatedDriveGivesEveryFigureFromXmlAndBinaryLists) {
    const auto xml = platform::sim::cannedDiskutilOutput("disk0");
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    ASSERT_NE(root, nullptr);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    plist_free(root);
    ASSERT_NE(bytes, nullptr);
    const std::string binary(bytes, length);
    std::free(bytes);

    StorageHealthReading expected{.temperature = 36,
                                  .life = 97,
                                  .totalRead = 48213377LL * 512000,
                                  .totalWritten = 39164720LL * 512000,
                                  .powerCycles = 412,
                                  .powerOnHours = 2871,
                                  .availableSpare = 100,
                                  .spareThreshold = 99,
                                  .unsafeShutdowns = 17,
                                  .mediaErrors = 0,
                                  .smartFailing = false,
                                  .device = "disk0"};
    expected.model = StorageHealthReading::parse(xml, "disk0").value_or(expected).model;
    ASSERT_TRUE(expected.model);
    EXPECT_EQ(StorageHealthReading::parse(xml, "disk0"), expected);
    EXPECT_EQ(StorageHealthReading::parse(binary, "disk0"), expected);
}

TEST(StorageHealthParseTest, NothingWithoutThisDisksDescriptionAndAPrimaryFigure) {
    const std::string smart = num("TEMPERATURE", "310");
    const std::string disk0 = "<key>DeviceIdentifier</key><string>disk0</string>";
    const struct Case {
        const char* name;
        std::string output;
        std::string device;
    } cases[] = {
        {"another disk", description("disk0", smart), "disk0s1"},
        {"identifier not a string", plist(num("DeviceIdentifier", "0")), "0"},
        {"no SMART dictionary", plist(disk0 + smart), "disk0"},
        {"SMART entry not a dictionary",
         plist(disk0 + "<key>SMARTDeviceSpecificKeysMayVaryNotGuaranteed</key><array/>"), "disk0"},
        {"no usable primary figure", description("disk0", num("TEMPERATURE", "172")), "disk0"},
        {"zero data units", description("disk0", halves("DATA_UNITS_WRITTEN", "0", "0")), "disk0"},
        {"secondary figures only",
         description("disk0", num("AVAILABLE_SPARE", "100") + halves("MEDIA_ERRORS", "2", "0")),
         "disk0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(StorageHealthReading::parse(c.output, c.device));
    }
    EXPECT_TRUE(StorageHealthReading::parse(description("disk3s1", smart), "disk3s1"));
}

TEST(StorageHealthParseTest, EachFigureIsWithinItsRangeOrAbsent) {
    using R = StorageHealthReading;
    const auto temperature = &R::temperature, life = &R::life, written = &R::totalWritten;
    const auto cycles = &R::powerCycles, spare = &R::availableSpare;
    const std::string negative = "-1", huge = "18446744073709551615";
    const struct Case {
        std::string entries;
        std::optional<std::int64_t> R::*figure;
        std::optional<std::int64_t> value;
    } cases[] = {
        {num("TEMPERATURE", "310"), temperature, 37},
        {num("TEMPERATURE", "173"), temperature, -100},
        {num("TEMPERATURE", "473"), temperature, 200},
        {num("TEMPERATURE", "310.0"), temperature, 37},
        {num("TEMPERATURE", "172"), temperature, std::nullopt},
        {num("TEMPERATURE", "474"), temperature, std::nullopt},
        {num("TEMPERATURE", "310.5"), temperature, std::nullopt},
        {str("TEMPERATURE", "310"), temperature, std::nullopt},
        {num("PERCENTAGE_USED", "0"), life, 100},
        {num("PERCENTAGE_USED", "255"), life, 0},
        {num("PERCENTAGE_USED", "256"), life, std::nullopt},
        {num("PERCENTAGE_USED", negative), life, std::nullopt},
        {halves("DATA_UNITS_WRITTEN", "1000", "0"), written, 512000000},
        {halves("DATA_UNITS_WRITTEN", "0", "0"), written, std::nullopt},
        {halves("DATA_UNITS_WRITTEN", "18014398509481984", "0"), written, saturated},
        {halves("DATA_UNITS_WRITTEN", negative, "0"), written, std::nullopt},
        {halves("POWER_CYCLES", "5", "0"), cycles, 5},
        {halves("POWER_CYCLES", "1", "7"), cycles, saturated},
        {halves("POWER_CYCLES", "9223372036854775808", "0"), cycles, saturated},
        {halves("POWER_CYCLES", "3", negative), cycles, std::nullopt},
        {num("POWER_CYCLES_0", "9"), cycles, std::nullopt},
        {halves("POWER_CYCLES", "12.0", "0.0"), cycles, 12},
        {num("AVAILABLE_SPARE", "100"), spare, 100},
        {num("AVAILABLE_SPARE", "101"), spare, std::nullopt},
        {halves("MEDIA_ERRORS", "3000000000", "0"), &R::mediaErrors, 3000000000LL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entries);
        // Another primary figure keeps a reading when the one under test is unusable.
        const auto reading = StorageHealthReading::parse(
            description("disk0", c.entries + halves("POWER_ON_HOURS", "1", "0")), "disk0");
        ASSERT_TRUE(reading);
        EXPECT_EQ((*reading).*c.figure, c.value);
    }
}

// Both tools run with the agent's environment and two seconds.
platform::ToolRun expectedRun(std::string path, std::vector<std::string> arguments) {
    return {std::move(path), std::move(arguments), platform::ToolEnvironment::inherited(), 2.0,
            platform::WatchdogQoS::utility};
}

TEST(ToolReadersTest, RunTheirToolsRepairTheTextAndGiveNothingForAFailedRun) {
    testing::RecordingToolRunner tools;
    tools.result.output = accessory("Mouse \xff", capacity("40"));
    EXPECT_EQ(readAccessories(tools),
              (std::vector<SensorSnapshot::AccessoryReading>{{"Mouse \xEF\xBF\xBD", {}, 0.4}}));
    tools.result.output = platform::sim::cannedDiskutilOutput("disk3s1");
    const auto health = readStorageHealth(tools, "disk3s1");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->temperature, 36);

    ASSERT_EQ(tools.runs.size(), 2u);
    testing::expectRun(tools.runs[0], expectedRun("/usr/bin/pmset", {"-g", "accps", "-xml"}));
    testing::expectRun(tools.runs[1],
                       expectedRun("/usr/sbin/diskutil", {"info", "-plist", "disk3s1"}));

    for (const auto& failure : testing::failedRuns(platform::sim::cannedPmsetOutput())) {
        SCOPED_TRACE(failure.terminationStatus);
        tools.result = failure;
        EXPECT_TRUE(readAccessories(tools).empty());
        tools.result.output = platform::sim::cannedDiskutilOutput("disk0");
        EXPECT_FALSE(readStorageHealth(tools, "disk0"));
    }
}

using platform::ManualUptimeClock;
using platform::sim::SimIOReportChannelSpec;
using platform::sim::SimIOReportFaults;
using platform::sim::SimIOReportSource;
using platform::sim::SimIOReportStateSpec;

// A simulated report source on a manual clock, as the CPU and energy readers sample it.
class IOReportReaderTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualUptimeClock> clock;
    std::shared_ptr<SimIOReportSource> source;

    explicit IOReportReaderTest(double uptime) { resetSource(uptime); }
    void resetSource(double uptime) {
        clock = std::make_shared<ManualUptimeClock>(uptime);
        source = std::make_shared<SimIOReportSource>(clock);
    }
};

// Each way the subscription set-up can fail.
inline const SimIOReportFaults setUpFaults[] = {
    {.groupsMissing = true}, {.copyFails = true}, {.subscriptionFails = true}};

using Reading = CPUDetailsSnapshot::ProcessReading;
using Residencies = decltype(CPUDetailsSnapshot::residencies);

class CPUDetailsReaderTest : public IOReportReaderTest {
protected:
    CPUDetailsReaderTest() : IOReportReaderTest(500.0) {}

    std::shared_ptr<testing::RecordingToolRunner> tools =
        std::make_shared<testing::RecordingToolRunner>();
    std::shared_ptr<platform::sim::SimProcessTable> table =
        std::make_shared<platform::sim::SimProcessTable>(77, 501, 502);
    CPUDetailsReader reader{source, tools, clock, table};

    // A core channel whose states gain the given residencies every second.
    std::uint64_t core(std::optional<std::string> name, std::vector<SimIOReportStateSpec> states,
                       std::optional<std::int32_t> declaredCount = std::nullopt) {
        return source->addChannel(
            "CPU Stats", "CPU Core Performance States",
            {std::move(name), std::nullopt, 0, std::move(states), declaredCount});
    }
    Residencies residenciesAfter(double seconds) {
        clock->advance(seconds);
        return reader.read().residencies;
    }
    Residencies measure() {
        reader.read();
        return residenciesAfter(1.0);
    }
};

TEST_F(CPUDetailsReaderTest, RunsProcessStatusInTheCLocaleAndKeepsItsFirst128Readings) {
    std::string output = "not a line\n";
    for (int i = 1; i <= 300; ++i)
        output += "0 1.0 zero pid\n" + std::to_string(1000 - i) + " " + std::to_string(i % 7) +
                  ".5 proc " + std::to_string(i) + "\n";
    tools->result.output = output;
    const CPUDetailsSnapshot snapshot = reader.read();
    ASSERT_EQ(snapshot.processes.size(), 128u);
    EXPECT_EQ(snapshot.processes.front(), (Reading{999, "proc 1", 1.5}));
    EXPECT_EQ(snapshot.processes.back(), (Reading{872, "proc 128", 2.5}));
    EXPECT_EQ(snapshot.helperUID, 501u);
    EXPECT_EQ(snapshot.helperEffectiveUID, 502u);
    ASSERT_EQ(tools->runs.size(), 1u);
    testing::expectRun(tools->runs[0], {"/bin/ps",
                                        {"-A", "-c", "-r", "-o", "pid=,pcpu=,comm="},
                                        platform::ToolEnvironment::exactly({{"LC_ALL", "C"}}),
                                        2.0,
                                        platform::WatchdogQoS::utility});
}

TEST_F(CPUDetailsReaderTest, FailedToolRunGivesNoProcessesButResidenciesStillCount) {
    core("PCPU0", {{"V0P0", 40}});
    for (const auto& failure : testing::failedRuns("1 50.0 busy\n")) {
        tools->result = failure;
        reader.read();
        clock->advance(1.0);
        const CPUDetailsSnapshot snapshot = reader.read();
        EXPECT_TRUE(snapshot.processes.empty());
        EXPECT_EQ(snapshot.residencies, (Residencies{{"PCPU", {40.0}}}));
    }
}

TEST_F(CPUDetailsReaderTest, FirstCallIsBaselineAndOnlyIntervalsUnderThirtySecondsCount) {
    const auto id = core("PCPU3", {{"IDLE", 0}, {"V1P0", 0}});
    EXPECT_TRUE(reader.read().residencies.empty());
    source->addResidency(id, 1, 7);
    EXPECT_EQ(residenciesAfter(0.001), (Residencies{{"PCPU", {7.0}}}));
    source->addResidency(id, 1, 100);
    EXPECT_TRUE(residenciesAfter(45.0).empty());
    source->addResidency(id, 1, 5);
    EXPECT_EQ(residenciesAfter(1.0), (Residencies{{"PCPU", {5.0}}}));
    EXPECT_TRUE(residenciesAfter(30.0).empty());
    EXPECT_EQ(residenciesAfter(29.5), (Residencies{{"PCPU", {0.0}}}));
}

TEST_F(CPUDetailsReaderTest, SumsCoresOfOneKindAndIgnoresAMismatchedLaterCore) {
    core("PCPU0", {{"V0P0", 10}, {"V1P0", 20}, {"V2P0", 0}});
    core("PCPU1", {{"IDLE", 99}, {"V0P0", 10}, {"DOWN", 5}, {"V1P0", 20}, {"V2P0", 0}, {"OFF", 3}});
    core("PCPU2", {{"V0P0", 1}, {"V1P0", 1}, {"V2P0", 1}, {"V3P0", 1}});
    EXPECT_EQ(measure(), (Residencies{{"PCPU", {20.0, 40.0, 0.0}}}));
}

TEST_F(CPUDetailsReaderTest, KeysByFirstMatchingPrefixAndSkipsForeignOrNamelessChannels) {
    core("MCPU7", {{"V0P0", 4}});
    core("ECPU", {{"V0P0", 6}});
    core("ecpu0", {{"V0P0", 1}});
    core(std::nullopt, {{"V0P0", 1}});
    EXPECT_EQ(measure(), (Residencies{{"ECPU", {6.0}}, {"MCPU", {4.0}}}));
}

TEST_F(CPUDetailsReaderTest, LeavesOutInactiveAndNamelessStatesButNotOtherSpellings) {
    core("ECPU0", {{"IDLE", 50}, {"V0P0", 3}, {std::nullopt, 9}, {"V1P0", 4}, {"OFF", 50}});
    core("PCPU0", {{"idle", 5}, {"DOWN", 50}, {"OFF ", 6}, {"V0P0", -8}});
    core("MCPU0", {{"IDLE", 1}, {"DOWN", 2}, {"OFF", 3}});
    EXPECT_EQ(measure(), (Residencies{{"ECPU", {3.0, 4.0}}, {"PCPU", {5.0, 6.0, 0.0}}}));
}

TEST_F(CPUDetailsReaderTest, StateCountMustLieBetweenOneAndSixtyFour) {
    std::vector<SimIOReportStateSpec> many(65, {"V0P0", 1});
    core("ECPU0", many, 65);
    many.pop_back();
    core("PCPU0", many, 64);
    core("MCPU0", {{"V0P0", 1}}, 0);
    EXPECT_EQ(measure(), (Residencies{{"PCPU", std::vector<double>(64, 1.0)}}));
}

TEST_F(CPUDetailsReaderTest, FailedSetUpIsRetriedAndAFailedSampleClearsTheBaseline) {
    const auto id = core("PCPU0", {{"V0P0", 2}});
    for (const auto& fault : setUpFaults) {
        source->setFaults(fault);
        EXPECT_TRUE(residenciesAfter(1.0).empty());
    }
    EXPECT_EQ(source->groupCopies("CPU Core Performance States"), 3);
    source->setFaults({});
    EXPECT_EQ(measure(), (Residencies{{"PCPU", {2.0}}}));
    EXPECT_EQ(source->groupCopies("CPU Core Performance States"), 4);

    source->setFaults({.sampleFails = true});
    EXPECT_TRUE(residenciesAfter(1.0).empty());
    source->setFaults({});
    EXPECT_TRUE(residenciesAfter(1.0).empty()); // baseline only
    // An unusable delta renews the baseline all the same.
    for (const SimIOReportFaults& fault :
         {SimIOReportFaults{.deltaFails = true}, SimIOReportFaults{.deltaLacksChannels = true}}) {
        source->addResidency(id, 0, 1000);
        source->setFaults(fault);
        EXPECT_TRUE(residenciesAfter(1.0).empty());
        source->setFaults({});
        source->addResidency(id, 0, 8);
        EXPECT_EQ(residenciesAfter(1.0), (Residencies{{"PCPU", {10.0}}}));
    }
}

TEST(ProcessStatusLineTest, SplitsIntoPidUsageAndTheRestAsName) {
    const struct Case {
        const char* what;
        std::string line;
        std::optional<Reading> expected;
    } cases[] = {
        {"padded columns, name with single inner blanks", "   312   12.5 Kite Render Helper",
         Reading{312, "Kite Render Helper", 12.5}},
        {"only one blank ends the usage", "7 0.0   spaced  name  ",
         Reading{7, "  spaced  name  ", 0.0}},
        {"tabs separate", "\t8\t1.25\tdaemon", Reading{8, "daemon", 1.25}},
        {"no-break and ideographic spaces separate",
         "9\xC2\xA0"
         "3\xE3\x80\x80name",
         Reading{9, "name", 3.0}},
        {"name made of one blank", "10 1.0  ", Reading{10, " ", 1.0}},
        {"invalid UTF-8 in the name is replaced", "3 1.0 a\xFF!",
         Reading{3, "a\xEF\xBF\xBD!", 1.0}},
        {"invalid UTF-8 before the pid", "\xFF+3 1.0 name", std::nullopt},
        {"two fields", "312 12.5", std::nullopt},
        {"one field", "   312", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(parseProcessStatusLine(c.line), c.expected);
    }
}

TEST(ProcessStatusLineTest, PidIsAnIntegerOfAtLeastOneAndUsageAFiniteNonNegativeNumber) {
    const std::pair<const char*, std::int64_t> pids[] = {
        {"+42", 42}, {"007", 7}, {"9223372036854775807", 9223372036854775807}};
    for (const auto& [pid, expected] : pids) {
        EXPECT_EQ(parseProcessStatusLine(std::string(pid) + " 1.0 name"),
                  (Reading{expected, "name", 1.0}));
    }
    const std::pair<const char*, double> usages[] = {
        {"+2.5", 2.5}, {".5", 0.5}, {"1e2", 100.0}, {"0x1p3", 8.0}, {"-0", 0.0}};
    for (const auto& [usage, expected] : usages) {
        const auto reading = parseProcessStatusLine(std::string("5 ") + usage + " name");
        EXPECT_EQ(reading, (Reading{5, "name", expected})) << usage;
        EXPECT_FALSE(reading && std::signbit(reading->usage)) << usage;
    }
    // The last pid is a fullwidth digit one.
    for (const char* pid : {"0", "+-3", "12a", "0x10", "9223372036854775808", "\xEF\xBC\x91"})
        EXPECT_FALSE(parseProcessStatusLine(std::string(pid) + " 1.0 name")) << pid;
    for (const char* usage : {"-0.1", "nan", "inf", "1e400", "+-1", "1,5", "1e", "12.5%"})
        EXPECT_FALSE(parseProcessStatusLine(std::string("5 ") + usage + " name")) << usage;
}

TEST(ProcessStatusOutputTest, SplitsAtEveryLineBreakAndDropsEmptyLines) {
    const std::string output = "1 1.0 lf\n"
                               "2 2.0 crlf\r\n"
                               "3 3.0 cr\r"
                               "6 6.0 nel\xC2\x85"
                               "7 7.0 ls\xE2\x80\xA8"
                               "\n\n\r\n"
                               "9 9.0 bad\xE2\xC2\x85"
                               "10 10.0 last";
    const auto readings = parseProcessStatusOutput(output, 128);
    const std::vector<Reading> expected{
        {1, "lf", 1.0},     {2, "crlf", 2.0}, {3, "cr", 3.0},
        {6, "nel", 6.0},    {7, "ls", 7.0},   {9, "bad\xEF\xBF\xBD", 9.0},
        {10, "last", 10.0},
    };
    EXPECT_EQ(readings, expected);
}

using Readings = std::vector<SensorSnapshot::Reading>;

class EnergyPowerReaderTest : public IOReportReaderTest {
protected:
    std::optional<EnergyPowerReader> reader;

    EnergyPowerReaderTest() : IOReportReaderTest(0.0) { restart(); }
    void restart(double uptime = 0.0) {
        resetSource(uptime);
        reader.emplace(source, clock);
    }

    std::uint64_t channel(std::optional<std::string> name, std::optional<std::string> unit) {
        return source->addChannel(
            "Energy Model", std::nullopt,
            SimIOReportChannelSpec{std::move(name), std::move(unit), 0, {}, {}});
    }
    Readings readAt(double uptime) {
        clock->set(uptime);
        return reader->read();
    }
};

TEST_F(EnergyPowerReaderTest, ConvertsEachUnitOfTheScaleTableToWatts) {
    const struct Case {
        const char* unit;
        std::int64_t count;
        std::optional<double> watts;
    } cases[] = {
        {"mJ", 10'000, 5.0},     {"nJ", 10'000'000'000, 5.0},    {"J", 3, 1.5},
        {"uJ", 4'000'000, 2.0},  {"\xC2\xB5J", 4'000'000, 2.0},  {"kJ", 5, std::nullopt},
        {"MJ", 5, std::nullopt}, {"\xCE\xBCJ", 5, std::nullopt}, // Greek mu
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unit);
        restart(100.0);
        const auto id = channel("CPU Energy", c.unit);
        EXPECT_TRUE(reader->read().empty());
        source->addCount(id, c.count);
        clock->advance(2.0);
        const Readings readings = reader->read();
        EXPECT_EQ(readings, (c.watts ? Readings{{"CPUModelPower", *c.watts}} : Readings{}));
    }
}

TEST_F(EnergyPowerReaderTest, IntervalOutsideWindowOnlyRenewsTheBaseline) {
    const auto cpu = channel("CPU Energy", "J");
    source->setCountRate(cpu, 10.0);
    EXPECT_TRUE(readAt(0.0).empty());
    EXPECT_EQ(readAt(0.1), (Readings{{"CPUModelPower", 10.0}})); // the shortest interval
    readAt(2.0);
    EXPECT_EQ(readAt(32.0), (Readings{{"CPUModelPower", 10.0}})); // the longest
    EXPECT_EQ(reader->totals(), (Readings{{"CPUEnergy", 320.0}}));

    restart();
    const auto slow = channel("CPU Energy", "mJ");
    source->setCountRate(slow, 2'000.0);
    EXPECT_TRUE(readAt(10.0).empty());
    EXPECT_TRUE(readAt(10.0625).empty()); // too short
    source->addCount(slow, 1'000);        // lands in the next interval only
    EXPECT_EQ(readAt(11.0625), (Readings{{"CPUModelPower", 3.0}}));
    EXPECT_TRUE(readAt(56.0625).empty()); // 45 s gap
    EXPECT_EQ(readAt(57.0625), (Readings{{"CPUModelPower", 2.0}}));
    EXPECT_TRUE(readAt(87.125).empty()); // 30.0625 s: just above the upper limit
    // The totals count every interval, the ones too short or too long to average included.
    const auto totals = reader->totals();
    ASSERT_EQ(totals.size(), 1u);
    EXPECT_EQ(totals[0].key, "CPUEnergy");
    EXPECT_NEAR(totals[0].value, 77.125 * 2 + 1, 1e-9);
}

TEST_F(EnergyPowerReaderTest, ChannelIsReportedFromItsFirstPositiveCountUpToOneThousandWatts) {
    const auto cpu = channel("CPU Energy", "mJ");
    const auto gpu = channel("GPU Energy", "mJ");
    source->setCountRate(cpu, 1'000.0);
    readAt(1.0);
    source->addCount(gpu, -5); // neither reported nor marking the channel active
    EXPECT_EQ(readAt(2.0), (Readings{{"CPUModelPower", 1.0}}));
    source->addCount(gpu, 0);
    EXPECT_EQ(readAt(3.0), (Readings{{"CPUModelPower", 1.0}}));

    source->addCount(gpu, 500);
    EXPECT_EQ(readAt(4.0), (Readings{{"CPUModelPower", 1.0}, {"GPUModelPower", 0.5}}));
    source->setCountRate(cpu, 0.0);
    EXPECT_EQ(readAt(5.0), (Readings{{"CPUModelPower", 0.0}, {"GPUModelPower", 0.0}}));
    source->addCount(cpu, 1'000'000);
    EXPECT_EQ(readAt(6.0), (Readings{{"CPUModelPower", 1000.0}, {"GPUModelPower", 0.0}}));
    source->addCount(cpu, 1'000'001);
    EXPECT_EQ(readAt(7.0), (Readings{{"GPUModelPower", 0.0}}));
    source->addCount(gpu, -5); // a counter going back, even on an active channel
    EXPECT_EQ(readAt(8.0), (Readings{{"CPUModelPower", 0.0}}));
}

TEST_F(EnergyPowerReaderTest, SkipsNamelessForeignAndUnlabelledChannelsAndKeepsDeltaOrder) {
    const auto gpu = channel("GPU Energy", "uJ");
    const auto nameless = channel(std::nullopt, "mJ");
    const auto foreign = channel("ANE Energy", "mJ");
    const auto unlabelled = channel("CPU Energy", std::nullopt);
    const auto cpu = channel("CPU Energy", "mJ");
    for (auto id : {gpu, nameless, foreign, unlabelled, cpu})
        source->setCountRate(id, 1'000.0);
    source->setCountRate(gpu, 500'000.0);
    readAt(5.0);
    EXPECT_EQ(readAt(6.0), (Readings{{"GPUModelPower", 0.5}, {"CPUModelPower", 1.0}}));
}

TEST_F(EnergyPowerReaderTest, FailedSetUpIsNeverRetried) {
    for (const auto& fault : setUpFaults) {
        SCOPED_TRACE(&fault - setUpFaults);
        restart();
        source->setCountRate(channel("CPU Energy", "J"), 1.0);
        source->setFaults(fault);
        EXPECT_TRUE(readAt(1.0).empty());
        source->setFaults({});
        for (double uptime : {2.0, 3.0, 4.0})
            EXPECT_TRUE(readAt(uptime).empty());
        EXPECT_EQ(source->groupCopies(), 1);
    }
}

// Set up from a subscription that names no channels: the copied list is sampled instead.
TEST_F(EnergyPowerReaderTest, FailedSampleClearsTheBaselineButUnusableDeltaRenewsIt) {
    const auto cpu = channel("CPU Energy", "J");
    source->setFaults({.subscribedChannelsMissing = true});
    readAt(1.0);
    source->addCount(cpu, 100);
    source->setFaults({.sampleFails = true});
    EXPECT_TRUE(readAt(2.0).empty());
    source->setFaults({});
    EXPECT_TRUE(readAt(3.0).empty()); // baseline only
    double uptime = 3.0;
    for (const SimIOReportFaults& fault :
         {SimIOReportFaults{.deltaFails = true}, SimIOReportFaults{.deltaLacksChannels = true}}) {
        source->addCount(cpu, 100);
        source->setFaults(fault);
        EXPECT_TRUE(readAt(uptime += 1.0).empty());
        source->setFaults({});
        source->addCount(cpu, 3);
        EXPECT_EQ(readAt(uptime += 1.0), (Readings{{"CPUModelPower", 3.0}}));
    }
}

using platform::ProcessResourceUsage;
using platform::sim::SimProcess;
using platform::sim::SimProcessTable;
using Rates = std::vector<ProcessDetailsSnapshot::StorageReading>;

constexpr int32_t ownPid = 4242;

// A hand-set clock on which a wait lets the test act in between.
struct SteppedClock final : platform::UptimeClock {
    double uptime() const override { return now; }
    void wait(double seconds) const override {
        now += seconds;
        whileWaiting();
    }
    mutable double now = 1000;
    std::function<void()> whileWaiting = [] {};
};

class ProcessDetailsReaderTest : public ::testing::Test {
protected:
    std::shared_ptr<SimProcessTable> table = std::make_shared<SimProcessTable>(ownPid, 501, 0);
    std::shared_ptr<testing::RecordingToolRunner> tools =
        std::make_shared<testing::RecordingToolRunner>();
    std::shared_ptr<SteppedClock> clock = std::make_shared<SteppedClock>();
    ProcessDetailsReader reader{table, tools, clock};
    std::optional<double> interval; // of the last storage list

    void add(int32_t pid, std::optional<std::string> name, uint64_t footprint = 4096,
             uint64_t startedAt = 7) {
        table->set(pid,
                   SimProcess{std::move(name), ProcessResourceUsage{startedAt, footprint, 0, 0}});
    }
    Rates storageAfter(double seconds) {
        clock->now += seconds;
        auto snapshot = reader.read(ProcessDetailsKind::storage);
        interval = snapshot.storageInterval;
        return snapshot.storage;
    }
};

TEST_F(ProcessDetailsReaderTest, MemoryRanksByFootprintSkippingZeroSelfAndUnnamed) {
    add(10, "small", 100);
    add(11, "large", 900);
    add(12, "idle", 0);
    add(13, std::nullopt, 5000);
    add(ownPid, "companion", 99999);
    table->set(14, SimProcess{"unreadable", std::nullopt});
    add(20, "caf\xC3!", 10);
    add(21, std::string(40, 'n'), 5);
    const std::vector<Reading> ranked = {{11, "large", 900},
                                         {10, "small", 100},
                                         {20, "caf\xEF\xBF\xBD!", 10},
                                         {21, std::string(32, 'n'), 5}};
    EXPECT_EQ(reader.read(ProcessDetailsKind::memory),
              (ProcessDetailsSnapshot{ranked, {}, 501, 0}));
}

TEST_F(ProcessDetailsReaderTest, ListsStopAt128NamedProcesses) {
    for (int32_t pid = 1; pid <= 400; ++pid) // the unnamed half takes no place in the list
        add(pid, pid % 2 ? std::optional<std::string>("p") : std::nullopt, 1000 + pid);
    const auto ranked = reader.read(ProcessDetailsKind::memory).ranked;
    ASSERT_EQ(ranked.size(), 128u);
    EXPECT_EQ(ranked.front().pid, 399);
}

TEST_F(ProcessDetailsReaderTest, StorageRatesOverAnyGapOrAFirstWindowWithACacheWhenTooSoon) {
    add(30, "reader");
    add(31, "trickle");
    add(32, "quiet");
    // The first request measures over a second of its own.
    clock->whileWaiting = [&] { table->addTraffic(30, 2000, 0); };
    EXPECT_EQ(storageAfter(0), (Rates{{30, "reader", 2000, 0}}));
    EXPECT_EQ(interval, 1.0);
    table->addTraffic(30, 3000, 0);
    table->addTraffic(31, 1, 0);
    const Rates first{{30, "reader", 1500, 0}, {31, "trickle", 0, 0}};
    EXPECT_EQ(storageAfter(2.0), first);
    table->addTraffic(30, 2000, 0);
    EXPECT_EQ(storageAfter(0.2), first);
    EXPECT_EQ(interval, 2.0);
    // Measured from the baseline 1.0 s back, not from the cached answer 0.8 s back.
    EXPECT_EQ(storageAfter(0.8), (Rates{{30, "reader", 2000, 0}}));

    // However long the gap, its writer is seen.
    for (double seconds : {0.5, 6.0, 3600.0}) {
        table->addTraffic(30, 7200, 0);
        EXPECT_EQ(storageAfter(seconds).at(0).readBytesPerSecond, 7200 / seconds) << seconds;
        EXPECT_EQ(interval, seconds);
    }

    table->setListingFails(true);
    EXPECT_TRUE(storageAfter(1.0).empty());
    EXPECT_TRUE(reader.read(ProcessDetailsKind::memory).ranked.empty());
    table->setListingFails(false);
    table->addTraffic(30, 10, 0);
    EXPECT_TRUE(storageAfter(1.0).empty()); // a failed listing leaves no baseline
}

TEST_F(ProcessDetailsReaderTest, StorageOrderSaturationAndSkippedProcesses) {
    add(40, "reborn", 1, 100);
    add(41, "shrunk");
    add(42, "steady");
    add(ownPid, "companion");
    table->set(41, SimProcess{"shrunk", ProcessResourceUsage{7, 1, 500, 500}});
    table->set(60, SimProcess{"flood", ProcessResourceUsage{7, 1, 0, 0}});
    const struct Traffic {
        int32_t pid;
        uint64_t read, write;
    } traffic[] = {
        {50, 100, 10}, {51, 10, 100}, {52, 100, 20}, {53, 5, 300}, {54, 20, 100}, {49, 20, 100},
    };
    for (const auto& t : traffic)
        add(t.pid, "p");
    storageAfter(0);
    for (const auto& t : traffic)
        table->addTraffic(t.pid, t.read, t.write);
    add(40, "reborn", 1, 200);
    table->addTraffic(40, 10, 10);
    table->set(41, SimProcess{"shrunk", ProcessResourceUsage{7, 1, 400, 900}});
    table->addTraffic(42, 10, 0);
    table->addTraffic(ownPid, 10, 0);
    table->addTraffic(60, std::numeric_limits<uint64_t>::max(), 1);
    const auto most = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(storageAfter(0.5), (Rates{{60, "flood", most, 2},
                                        {53, "p", 10, 600},
                                        {49, "p", 40, 200},
                                        {52, "p", 200, 40},
                                        {54, "p", 40, 200},
                                        {50, "p", 200, 20},
                                        {51, "p", 20, 200},
                                        {42, "steady", 20, 0}}));
}

TEST_F(ProcessDetailsReaderTest, EnergyRunsTheMonitorLeavesItselfOutAndAFailedRunGivesNothing) {
    tools->result.terminationStatus = 0;
    tools->result.processIdentifier = 77;
    tools->result.output = "PID COMMAND POWER\n1 a 1.0\nPID COMMAND POWER\n77 top 9.0\n"
                           "4242 companion 8.0\n88 bad\xFFname 2.5\n";
    EXPECT_EQ(reader.read(ProcessDetailsKind::energy).ranked,
              (std::vector<Reading>{{88, "bad\xEF\xBF\xBDname", 2.5}}));
    ASSERT_EQ(tools->runs.size(), 1u);
    testing::expectRun(tools->runs[0], {"/usr/bin/top",
                                        {"-o", "power", "-l", "2", "-s", "1", "-n", "130", "-stats",
                                         "pid,command,power"},
                                        platform::ToolEnvironment::exactly({{"LC_ALL", "C"}}),
                                        3.0,
                                        platform::WatchdogQoS::utility});

    for (const auto& failure : testing::failedRuns("PID\nPID\n88 x 1.0\n")) {
        tools->result = failure;
        EXPECT_TRUE(reader.read(ProcessDetailsKind::energy).ranked.empty())
            << failure.terminationStatus;
    }
}

// Looks at the cards' clients handed out one per call, the last one again once they run out.
struct ScriptedGpuClients final : platform::GpuClientTable {
    std::vector<platform::GpuClientUse> look() const override {
        return looks.at(std::min(calls++, looks.size() - 1));
    }
    std::vector<std::vector<platform::GpuClientUse>> looks;
    mutable std::size_t calls = 0;
};

platform::GpuClientUse gpuUse(int32_t pid, std::string card, double render,
                              std::optional<uint64_t> memory = {}) {
    return testing::gpuClientUse(pid, std::move(card), "", {{"render", render}}, memory);
}

// Busy shares from the counters' moves over the window (busy time, cycles, or the driver's own
// share), ranked by the busiest engine, then memory; a counter gone back or a client new at
// the second look shows memory only. The first request looks twice a second apart, one soon
// after reuses the answer, one long after starts afresh.
TEST_F(ProcessDetailsReaderTest, GpuRanksByBusyShareBetweenTwoLooksThenMemory) {
    for (int32_t pid : {10, 11, 12, 13})
        add(pid, "p" + std::to_string(pid));
    auto before = gpuUse(10, "card0", 0, 1 << 20), after = gpuUse(10, "card0", 5e8, 1 << 20);
    before.cycles["gfx"] = {100, 1000};
    after.cycles["gfx"] = {400, 2000};
    const auto nvidia = testing::gpuClientUse(10, "card2", "", {}, 2 << 20, {{"sm", 0.8}});
    const auto gpu = std::make_shared<ScriptedGpuClients>();
    gpu->looks = {{before, gpuUse(11, "card0", 5e9, 4ull << 30), gpuUse(12, "card0", 1e9)},
                  {after, nvidia, gpuUse(11, "card0", 5e9, 4ull << 30), gpuUse(12, "card0", 2e8),
                   gpuUse(13, "card0", 3e9, 8 << 20), gpuUse(14, "card0", 9e9)}};
    ProcessDetailsReader gpuReader{table, tools, clock, gpu};

    using Card = ProcessDetailsSnapshot::GpuReading::Card;
    const auto first = gpuReader.read(ProcessDetailsKind::gpu);
    EXPECT_EQ(first.gpuInterval, 1.0);
    EXPECT_EQ(*first.gpu,
              (std::vector<ProcessDetailsSnapshot::GpuReading>{
                  {10,
                   "p10",
                   80,
                   3 << 20,
                   {Card{"card0", "", {{"gfx", 30}, {"render", 50}}, 1 << 20},
                    Card{"card2", "", {{"sm", 80}}, 2 << 20}}},
                  {11, "p11", 0, 4ll << 30, {Card{"card0", "", {{"render", 0}}, 4ll << 30}}},
                  {13, "p13", 0, 8 << 20, {Card{"card0", "", {}, 8 << 20}}},
                  {12, "p12", 0, {}, {Card{"card0", "", {}, {}}}}}));

    clock->now += 0.2;
    EXPECT_EQ(gpuReader.read(ProcessDetailsKind::gpu), first);
    clock->now += 20;
    EXPECT_EQ(gpuReader.read(ProcessDetailsKind::gpu).gpuInterval, 1.0);
    clock->now += 3;
    EXPECT_EQ(gpuReader.read(ProcessDetailsKind::gpu).gpuInterval, 3.0);
    EXPECT_EQ(gpu->calls, 5u);
    EXPECT_FALSE(reader.read(ProcessDetailsKind::memory).gpu);
}

// The monitor's log of two samples, ending with the lines of the second.
std::vector<Reading> parseSecondSample(const std::string& lines,
                                       const std::unordered_set<int32_t>& excluded = {}) {
    return ProcessDetailsReader::parseEnergy(
        "Processes: 412 total, 3 running, 409 sleeping, 2011 threads\n"
        "Load Avg: 1.52, 1.61, 1.70\n\n"
        "PID    COMMAND          POWER\n"
        "501    display_server   0.0\n"
        "Processes: 412 total, 2 running, 410 sleeping, 2010 threads\n"
        "Load Avg: 1.48, 1.60, 1.70\n"
        "  PID    COMMAND          POWER \n" +
            lines,
        excluded);
}

TEST(ParseEnergy, ReadsOnlyTheSampleAfterTheSecondHeaderLessExcludedPidsUpTo128) {
    EXPECT_EQ(parseSecondSample("88   Photo  Library   Helper   12.3\n\n1  init 0.0\n"),
              (std::vector<Reading>{{88, "Photo Library Helper", 12.3}, {1, "init", 0.0}}));
    // "PIDS" or a header further in the line is not a header.
    for (const char* output :
         {"PID COMMAND POWER\n88 a 1.0\n", "PIDS\nx PID\nPID COMMAND POWER\n88 a 1.0\n"}) {
        EXPECT_TRUE(ProcessDetailsReader::parseEnergy(output, {}).empty()) << output;
    }
    // Excluded pids are left out; order is kept up to 128 readings.
    std::string sample;
    for (int pid = 1; pid <= 140; ++pid)
        sample += std::to_string(pid) + " p " + std::to_string(pid % 3) + "\n";
    const auto readings = parseSecondSample(sample, {2, 5});
    ASSERT_EQ(readings.size(), 128u);
    EXPECT_EQ(std::vector(readings.begin(), readings.begin() + 4),
              (std::vector<Reading>{{1, "p", 1}, {3, "p", 0}, {4, "p", 1}, {6, "p", 0}}));
    EXPECT_EQ(readings.back().pid, 130);
}

TEST(ParseEnergy, IgnoresLinesThatBreakTheRules) {
    for (const char* line : {"+7 signed 1.0", "7 name 1e2", "7\tname\t2.0\r", "7 name -0.0"}) {
        const auto readings = parseSecondSample(line + std::string("\n"));
        ASSERT_EQ(readings.size(), 1u) << line;
        EXPECT_FALSE(std::signbit(readings[0].usage)) << "negative zero is plain zero";
    }
    for (const char* line :
         {"88 12.3", "0 kernel_task 5.0", "7a name 1.0", "7 name -1.0", "7 name nan", "7 name 1.5x",
          "99999999999999999999 name 1.0", "7\tname\r"}) {
        EXPECT_TRUE(parseSecondSample(line + std::string("\n")).empty()) << line;
    }
}

} // namespace
} // namespace brivane
