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

} // namespace
} // namespace brivane
