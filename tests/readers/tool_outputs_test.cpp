#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "platform/sim/canned_outputs.h"
#include "readers/accessory_reader.h"
#include "readers/storage_health_reader.h"
#include "support/recording_tool_runner.h"

#include <cstdlib>
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
    struct Case {
        const char* name;
        std::string output;
        std::vector<Accessory> readings;
    };
    const std::vector<Case> cases = {
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
std::string integer(const std::string& key, const std::string& value) {
    return "<key>" + key + "</key><integer>" + value + "</integer>";
}
std::string halves(const std::string& name, const std::string& low, const std::string& high) {
    return integer(name + "_0", low) + integer(name + "_1", high);
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

    const StorageHealthReading expected{.temperature = 36,
                                        .life = 97,
                                        .totalRead = 48213377LL * 512000,
                                        .totalWritten = 39164720LL * 512000,
                                        .powerCycles = 412,
                                        .powerOnHours = 2871,
                                        .availableSpare = 100,
                                        .spareThreshold = 99,
                                        .unsafeShutdowns = 17,
                                        .mediaErrors = 0};
    EXPECT_EQ(StorageHealthReading::parse(xml, "disk0"), expected);
    EXPECT_EQ(StorageHealthReading::parse(binary, "disk0"), expected);
}

TEST(StorageHealthParseTest, NothingWithoutThisDisksDescriptionAndAPrimaryFigure) {
    const std::string smart = integer("TEMPERATURE", "310");
    const std::string disk0 = "<key>DeviceIdentifier</key><string>disk0</string>";
    struct Case {
        const char* name;
        std::string output;
        std::string device;
    };
    const std::vector<Case> cases = {
        {"another disk", description("disk0", smart), "disk0s1"},
        {"identifier not a string", plist("<key>DeviceIdentifier</key><integer>0</integer>"), "0"},
        {"no SMART dictionary", plist(disk0 + smart), "disk0"},
        {"SMART entry not a dictionary",
         plist(disk0 + "<key>SMARTDeviceSpecificKeysMayVaryNotGuaranteed</key><array/>"), "disk0"},
        {"no usable primary figure", description("disk0", integer("TEMPERATURE", "172")), "disk0"},
        {"zero data units", description("disk0", halves("DATA_UNITS_WRITTEN", "0", "0")), "disk0"},
        {"secondary figures only",
         description("disk0", integer("AVAILABLE_SPARE", "100") + halves("MEDIA_ERRORS", "2", "0")),
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
    struct Case {
        std::string entries;
        std::optional<std::int64_t> R::*figure;
        std::optional<std::int64_t> value;
    };
    const std::vector<Case> cases = {
        {integer("TEMPERATURE", "310"), temperature, 37},
        {integer("TEMPERATURE", "173"), temperature, -100},
        {integer("TEMPERATURE", "473"), temperature, 200},
        {"<key>TEMPERATURE</key><real>310.0</real>", temperature, 37},
        {integer("TEMPERATURE", "172"), temperature, std::nullopt},
        {integer("TEMPERATURE", "474"), temperature, std::nullopt},
        {"<key>TEMPERATURE</key><real>310.5</real>", temperature, std::nullopt},
        {"<key>TEMPERATURE</key><string>310</string>", temperature, std::nullopt},
        {integer("PERCENTAGE_USED", "0"), life, 100},
        {integer("PERCENTAGE_USED", "255"), life, 0},
        {integer("PERCENTAGE_USED", "256"), life, std::nullopt},
        {integer("PERCENTAGE_USED", negative), life, std::nullopt},
        {halves("DATA_UNITS_WRITTEN", "1000", "0"), written, 512000000},
        {halves("DATA_UNITS_WRITTEN", "0", "0"), written, std::nullopt},
        {halves("DATA_UNITS_WRITTEN", "18014398509481984", "0"), written, saturated},
        {halves("DATA_UNITS_WRITTEN", negative, "0"), written, std::nullopt},
        {halves("POWER_CYCLES", "5", "0"), cycles, 5},
        {halves("POWER_CYCLES", "1", "7"), cycles, saturated},
        {halves("POWER_CYCLES", "9223372036854775808", "0"), cycles, saturated},
        {halves("POWER_CYCLES", "3", negative), cycles, std::nullopt},
        {integer("POWER_CYCLES_0", "9"), cycles, std::nullopt},
        {"<key>POWER_CYCLES_0</key><real>12.0</real><key>POWER_CYCLES_1</key><real>0</real>",
         cycles, 12},
        {integer("AVAILABLE_SPARE", "100"), spare, 100},
        {integer("AVAILABLE_SPARE", "101"), spare, std::nullopt},
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
    tools.result.output = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                          "<key>Type</key><string>Accessory Source</string>"
                          "<key>Name</key><string>Mouse \xff</string>"
                          "<key>Current Capacity</key><integer>40</integer></dict></plist>";
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

} // namespace
} // namespace brivane
