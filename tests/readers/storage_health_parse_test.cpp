#include "formats/storage_health.h"
#include "platform/sim/canned_outputs.h"

#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <plist/plist.h>
#include <string>
#include <vector>

namespace brivane {
namespace {

constexpr std::int64_t saturated = std::numeric_limits<std::int64_t>::max();

std::string description(const std::string& device, const std::string& smartEntries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<plist version=\"1.0\"><dict>"
           "<key>DeviceIdentifier</key><string>" +
           device +
           "</string>"
           "<key>SMARTDeviceSpecificKeysMayVaryNotGuaranteed</key><dict>" +
           smartEntries + "</dict></dict></plist>";
}
std::string integer(const std::string& key, const std::string& value) {
    return "<key>" + key + "</key><integer>" + value + "</integer>";
}
std::string halves(const std::string& name, const std::string& low, const std::string& high) {
    return integer(name + "_0", low) + integer(name + "_1", high);
}

std::optional<StorageHealthReading> parseDisk0(const std::string& smartEntries) {
    return StorageHealthReading::parse(description("disk0", smartEntries), "disk0");
}

TEST(StorageHealthParseTest, SimulatedDriveGivesEveryFigure) {
    const auto reading =
        StorageHealthReading::parse(platform::sim::cannedDiskutilOutput("disk0"), "disk0");
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->temperature, 36);
    EXPECT_EQ(reading->life, 97);
    EXPECT_EQ(reading->totalRead, 48213377LL * 512000);
    EXPECT_EQ(reading->totalWritten, 39164720LL * 512000);
    EXPECT_EQ(reading->powerCycles, 412);
    EXPECT_EQ(reading->powerOnHours, 2871);
    EXPECT_EQ(reading->availableSpare, 100);
    EXPECT_EQ(reading->spareThreshold, 99);
    EXPECT_EQ(reading->unsafeShutdowns, 17);
    EXPECT_EQ(reading->mediaErrors, 0);
}

TEST(StorageHealthParseTest, BinaryPropertyListReadsLikeXml) {
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

    const auto fromBinary = StorageHealthReading::parse(binary, "disk0");
    ASSERT_TRUE(fromBinary);
    EXPECT_EQ(fromBinary, StorageHealthReading::parse(xml, "disk0"));
}

TEST(StorageHealthParseTest, RefusesOutputThatIsNotThisDisksDescription) {
    const std::string smart = integer("TEMPERATURE", "310");
    struct Case {
        const char* name;
        std::string output;
        std::string device;
    };
    const std::vector<Case> cases = {
        {"another disk", description("disk0", smart), "disk0s1"},
        {"case differs", description("Disk0", smart), "disk0"},
        {"empty output", "", "disk0"},
        {"not a property list", "disk0: no such disk\n", "disk0"},
        {"top level array", "<?xml version=\"1.0\"?><plist><array/></plist>", "disk0"},
        {"empty dictionary", "<?xml version=\"1.0\"?><plist><dict/></plist>", "disk0"},
        {"identifier not a string",
         "<?xml version=\"1.0\"?><plist><dict><key>DeviceIdentifier</key><integer>0</integer>"
         "</dict></plist>",
         "0"},
        {"no SMART dictionary",
         "<?xml version=\"1.0\"?><plist><dict><key>DeviceIdentifier</key><string>disk0</string>"
         "<key>TEMPERATURE</key><integer>310</integer></dict></plist>",
         "disk0"},
        {"SMART entry not a dictionary",
         "<?xml version=\"1.0\"?><plist><dict><key>DeviceIdentifier</key><string>disk0</string>"
         "<key>SMARTDeviceSpecificKeysMayVaryNotGuaranteed</key><array/></dict></plist>",
         "disk0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(StorageHealthReading::parse(c.output, c.device));
    }
    EXPECT_TRUE(StorageHealthReading::parse(description("disk3s1", smart), "disk3s1"));
}

TEST(StorageHealthParseTest, TemperatureAndLifeRanges) {
    struct Case {
        std::string entry;
        std::optional<std::int64_t> temperature;
        std::optional<std::int64_t> life;
    };
    const std::vector<Case> cases = {
        {integer("TEMPERATURE", "310"), 37, std::nullopt},
        {integer("TEMPERATURE", "173"), -100, std::nullopt},
        {integer("TEMPERATURE", "473"), 200, std::nullopt},
        {"<key>TEMPERATURE</key><real>310.0</real>", 37, std::nullopt},
        {integer("PERCENTAGE_USED", "3"), std::nullopt, 97},
        {integer("PERCENTAGE_USED", "0"), std::nullopt, 100},
        {integer("PERCENTAGE_USED", "120"), std::nullopt, 0},
        {integer("PERCENTAGE_USED", "255"), std::nullopt, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        const auto reading = parseDisk0(c.entry);
        ASSERT_TRUE(reading);
        EXPECT_EQ(reading->temperature, c.temperature);
        EXPECT_EQ(reading->life, c.life);
    }
    for (const std::string& entry : std::vector<std::string>{
             integer("TEMPERATURE", "172"), integer("TEMPERATURE", "474"),
             integer("TEMPERATURE", "-300"), "<key>TEMPERATURE</key><real>310.5</real>",
             "<key>TEMPERATURE</key><string>310</string>", integer("PERCENTAGE_USED", "256"),
             integer("PERCENTAGE_USED", "-1"),
             integer("PERCENTAGE_USED", "18446744073709551615")}) {
        SCOPED_TRACE(entry);
        EXPECT_FALSE(parseDisk0(entry)) << "the only figure is unusable";
    }
}

TEST(StorageHealthParseTest, CountersFromTwoHalves) {
    struct Case {
        const char* name;
        std::string entries;
        std::optional<std::int64_t> totalWritten;
        std::optional<std::int64_t> powerCycles;
    };
    const std::vector<Case> cases = {
        {"data units", halves("DATA_UNITS_WRITTEN", "1000", "0") + halves("POWER_CYCLES", "5", "0"),
         512000000, 5},
        {"high half set", halves("DATA_UNITS_WRITTEN", "1", "1") + halves("POWER_CYCLES", "1", "7"),
         saturated, saturated},
        {"zero units mean no total",
         halves("DATA_UNITS_WRITTEN", "0", "0") + halves("POWER_CYCLES", "0", "0"), std::nullopt,
         0},
        {"product overflows",
         halves("DATA_UNITS_WRITTEN", "18014398509481984", "0") + halves("POWER_CYCLES", "1", "0"),
         saturated, 1},
        {"low half beyond the signed range",
         halves("DATA_UNITS_WRITTEN", "18446744073709551615", "0") +
             halves("POWER_CYCLES", "9223372036854775808", "0"),
         saturated, saturated},
        {"low half without high half",
         integer("DATA_UNITS_WRITTEN_0", "1000") + integer("POWER_CYCLES_0", "9") +
             integer("TEMPERATURE", "300"),
         std::nullopt, std::nullopt},
        {"negative halves are not unsigned",
         halves("DATA_UNITS_WRITTEN", "-1", "0") + halves("POWER_CYCLES", "3", "-1") +
             integer("TEMPERATURE", "300"),
         std::nullopt, std::nullopt},
        {"integral reals count",
         "<key>POWER_CYCLES_0</key><real>12.0</real><key>POWER_CYCLES_1</key><real>0</real>",
         std::nullopt, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reading = parseDisk0(c.entries);
        ASSERT_TRUE(reading);
        EXPECT_EQ(reading->totalWritten, c.totalWritten);
        EXPECT_EQ(reading->powerCycles, c.powerCycles);
    }
}

TEST(StorageHealthParseTest, SecondaryFiguresNeverMakeAReadingOnTheirOwn) {
    EXPECT_FALSE(parseDisk0(integer("AVAILABLE_SPARE", "100") + halves("MEDIA_ERRORS", "2", "0")));

    const auto reading = parseDisk0(
        integer("TEMPERATURE", "300") + integer("AVAILABLE_SPARE", "101") +
        integer("AVAILABLE_SPARE_THRESHOLD", "10") + halves("UNSAFE_SHUTDOWNS", "4", "0") +
        halves("MEDIA_ERRORS", "3000000000", "0"));
    ASSERT_TRUE(reading);
    EXPECT_FALSE(reading->availableSpare);
    EXPECT_EQ(reading->spareThreshold, 10);
    EXPECT_EQ(reading->unsafeShutdowns, 4);
    EXPECT_EQ(reading->mediaErrors, 3000000000LL);
    EXPECT_FALSE(reading->totalRead);

    for (const char* spare : {"-1", "-100", "18446744073709551615"}) {
        const auto refused =
            parseDisk0(integer("TEMPERATURE", "300") + integer("AVAILABLE_SPARE", spare));
        ASSERT_TRUE(refused);
        EXPECT_FALSE(refused->availableSpare) << spare;
    }
}

} // namespace
} // namespace brivane
