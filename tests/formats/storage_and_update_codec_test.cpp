#include "formats/document_codec.h"

#include <gtest/gtest.h>
#include <string>

namespace brivane {
namespace {

using State = SensorCompanionUpdate::State;

TEST(StorageHealthCodecTest, WritesOnlyPresentFields) {
    StorageHealthReading onlyTemperature;
    onlyTemperature.temperature = 41;
    EXPECT_EQ(encode(StorageHealthSnapshot{onlyTemperature, 501, 501}),
              R"({"reading":{"temperature":41},"helperUID":501,"helperEffectiveUID":501})");
    EXPECT_EQ(encode(StorageHealthSnapshot{std::nullopt, 3, 4}),
              R"({"helperUID":3,"helperEffectiveUID":4})");
    EXPECT_EQ(encode(StorageHealthSnapshot{StorageHealthReading{}, 0, 0}),
              R"({"reading":{},"helperUID":0,"helperEffectiveUID":0})");
}

TEST(StorageHealthCodecTest, RoundTripsSixtyFourBitCounters) {
    const StorageHealthSnapshot original{StorageHealthReading{-100, 0, 9223372036854775807,
                                                              2147483648, 1200, 30000, 100, 10, 37,
                                                              4294967296},
                                         4294967295u, 0};
    EXPECT_EQ(decodeStorageHealthSnapshot(encode(original)), original);
}

TEST(StorageHealthCodecTest, DecodingRules) {
    const struct {
        std::string_view json;
        bool decodes;
    } cases[] = {
        {R"({"reading":{},"helperUID":1,"helperEffectiveUID":1})", true},
        {R"({"reading":null,"helperUID":1,"helperEffectiveUID":1})", true},
        {R"({"reading":{"life":null},"helperUID":1,"helperEffectiveUID":1})", true},
        {R"({"reading":{},"helperEffectiveUID":1})", false},
        {R"({"reading":[],"helperUID":1,"helperEffectiveUID":1})", false},
        {R"({"reading":{"temperature":"40"},"helperUID":1,"helperEffectiveUID":1})", false},
        {R"({"reading":{"temperature":40.5},"helperUID":1,"helperEffectiveUID":1})", false},
        {R"({"reading":{"mediaErrors":-9223372036854775808},"helperUID":1,"helperEffectiveUID":1})",
         true},
        {R"({"reading":{"mediaErrors":-9223372036854775809},"helperUID":1,"helperEffectiveUID":1})",
         false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeStorageHealthSnapshot(c.json).has_value(), c.decodes) << c.json;
    }
}

TEST(CompanionUpdateCodecTest, EncodesStateAndPresentTexts) {
    EXPECT_EQ(encode(SensorCompanionUpdate{State::busy}), R"({"state":"busy"})");
    EXPECT_EQ(encode(SensorCompanionUpdate{State::failed, "2.0", "Could not open \"x\""}),
              R"({"state":"failed","version":"2.0","message":"Could not open \"x\""})");
    EXPECT_EQ(encode(SensorCompanionUpdate{State::failed, std::nullopt, "offline"}),
              R"({"state":"failed","message":"offline"})");
}

TEST(CompanionUpdateCodecTest, DecodingRejectsUnknownOrMistypedState) {
    const struct {
        std::string_view json;
        bool decodes;
    } cases[] = {
        {R"({"state":"available","version":"2.0"})", true},
        {R"({"state":"upToDate","version":null,"message":null,"other":0})", true},
        {R"({"state":"Busy"})", false},
        {R"({"state":"busy "})", false},
        {R"({"state":null})", false},
        {R"({"state":1})", false},
        {R"({"version":"2.0"})", false},
        {R"({"state":"failed","message":42})", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeSensorCompanionUpdate(c.json).has_value(), c.decodes) << c.json;
    }
}

} // namespace
} // namespace brivane
