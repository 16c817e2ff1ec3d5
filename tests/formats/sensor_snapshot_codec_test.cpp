#include "formats/document_codec.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace brivane {
namespace {

using Snapshot = SensorSnapshot;

constexpr std::string_view exampleDocument =
    R"({"version":2,"temperatures":[{"key":"BatteryTemperature","value":30.5}],)"
    R"("fans":[{"id":0,"rpm":1200}],"helperUID":501,"helperEffectiveUID":501,"power":[],)"
    R"("accessories":[],"supportsProcessDetails":true,"supportsStorageHealth":true,)"
    R"("supportsManagement":true})";

Snapshot exampleSnapshot() {
    return Snapshot{Snapshot::schemaVersion,
                    {{"BatteryTemperature", 30.5}},
                    {{0, std::nullopt, 1200.0, std::nullopt}},
                    501,
                    501,
                    std::vector<Snapshot::Reading>{},
                    std::nullopt,
                    std::vector<Snapshot::AccessoryReading>{},
                    true,
                    true,
                    true};
}

TEST(SensorSnapshotCodecTest, ReproducesTheExampleDocumentByteForByte) {
    EXPECT_EQ(encode(exampleSnapshot()), exampleDocument);
    EXPECT_EQ(decodeSensorSnapshot(exampleDocument), exampleSnapshot());
    // The buffer form replaces whatever the buffer held.
    std::string buffer = "stale";
    ASSERT_TRUE(encode(exampleSnapshot(), buffer));
    EXPECT_EQ(buffer, exampleDocument);
}

TEST(SensorSnapshotCodecTest, OmitsAbsentOptionalsEverywhere) {
    Snapshot minimal{2, {}, {}, 7, 8};
    EXPECT_EQ(encode(minimal),
              R"({"version":2,"temperatures":[],"fans":[],"helperUID":7,"helperEffectiveUID":8})");

    Snapshot nested{2, {}, {{3, std::nullopt, 900.0, std::nullopt}}, 0, 0};
    nested.graphics = Snapshot::GraphicsReading{0.5, 0.25, std::nullopt};
    nested.accessories = {{"Mouse", std::nullopt, 0.5}};
    EXPECT_EQ(encode(nested),
              R"({"version":2,"temperatures":[],"fans":[{"id":3,"rpm":900}],"helperUID":0,)"
              R"("helperEffectiveUID":0,"graphics":{"utilization":0.5,"renderer":0.25},)"
              R"("accessories":[{"name":"Mouse","level":0.5}]})");
}

TEST(SensorSnapshotCodecTest, RoundTripsEveryField) {
    const Snapshot original{
        1,
        {{"TC0P", 45.25}, {"Tp09", 61.0}},
        {{0, "Left \"fan\"", 2400.5, 6000.0}, {1, std::nullopt, 0.0, std::nullopt}},
        4294967295u,
        0,
        std::vector<Snapshot::Reading>{{"PSTR", 12.5}, {"BatteryVoltage", 12.9}},
        Snapshot::GraphicsReading{0.42, 0.4, std::nullopt},
        std::vector<Snapshot::AccessoryReading>{{"Keyboard", std::nullopt, 0.8},
                                                {"Buds", "left", 1.0}},
        false,
        true,
        std::nullopt,
        "1.4.2 (beta/2)"};
    const std::string json = encode(original);
    ASSERT_FALSE(json.empty());
    EXPECT_NE(json.find(R"x("companionVersion":"1.4.2 (beta\/2)")x"), std::string::npos);
    EXPECT_EQ(decodeSensorSnapshot(json), original);
}

TEST(SensorSnapshotCodecTest, NonFiniteDoubleFailsTheWholeDocument) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<Snapshot> broken(5, exampleSnapshot());
    broken[0].fans[0].maximumRPM = nan;
    broken[1].temperatures[0].value = inf;
    broken[2].graphics = Snapshot::GraphicsReading{0.1, std::nullopt, -inf};
    broken[3].accessories = {{"Pen", std::nullopt, nan}};
    broken[4].power = {{"PSTR", nan}};
    for (const Snapshot& snapshot : broken) {
        std::string buffer = "previous contents";
        EXPECT_FALSE(encode(snapshot, buffer));
        EXPECT_TRUE(buffer.empty());
        EXPECT_TRUE(encode(snapshot).empty());
    }
}

TEST(SensorSnapshotCodecTest, DecodingFollowsPresenceAndTypeRules) {
    const std::string required =
        R"("version":2,"temperatures":[],"fans":[],"helperUID":1,"helperEffectiveUID":1)";
    const struct {
        std::string json;
        bool decodes;
    } cases[] = {
        {"{" + required + "}", true},
        {"{" + required + R"(,"graphics":null,"power":null,"companionVersion":null})", true},
        {"{" + required + R"(,"graphics":5})", false},
        {"{" + required + R"(,"power":{}})", false},
        {"{" + required + R"(,"supportsManagement":1})", false},
        {"{" + required + R"(,"supportsManagement":"true"})", false},
        {"{" + required + R"(,"unknown":[1,{"x":null}]})", true},
        {R"({"version":2,"temperatures":[],"helperUID":1,"helperEffectiveUID":1})", false},
        {R"({"version":2,"fans":[],"temperatures":null,"helperUID":1,"helperEffectiveUID":1})",
         false},
        {"{" + required + R"(,"fans":[{"id":0}]})", false},
        {"{" + required + R"(,"fans":[{"id":0,"rpm":"1"}]})", false},
        {"{" + required + R"(,"fans":[{"id":0,"rpm":1,"name":null,"maximumRPM":null}]})", true},
        {"{" + required + R"(,"temperatures":[{"key":"TC0P","value":1e2}]})", true},
        {"{" + required + R"(,"temperatures":[{"key":7,"value":1}]})", false},
        {"{" + required + R"(,"accessories":[{"level":0.5}]})", false},
        {"{" + required + R"(,"graphics":{"utilization":0.5,"tiler":null}})", true},
        {"{" + required + R"(,"helperUID":-1})", false},
        {"{" + required + R"(,"helperUID":4294967296})", false},
        {"{" + required + R"(,"version":"2"})", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeSensorSnapshot(c.json).has_value(), c.decodes) << c.json;
    }
}

TEST(SensorSnapshotCodecTest, SupportsExactlyVersionsOneAndTwo) {
    for (std::int64_t version : {0, 1, 2, 3, -1, -2, 100}) {
        EXPECT_EQ(Snapshot::supports(version), version == 1 || version == 2) << version;
    }
}

} // namespace
} // namespace brivane
