#include "formats/document_codec.h"

#include <gtest/gtest.h>
#include <string>

namespace brivane {
namespace {

std::string withUID(std::string_view number) {
    return std::string(R"({"helperUID":)") + std::string(number) + R"(,"helperEffectiveUID":0})";
}

std::string withTemperature(std::string_view number) {
    return std::string(R"({"reading":{"temperature":)") + std::string(number) +
           R"(},"helperUID":0,"helperEffectiveUID":0})";
}

TEST(DecodingRulesTest, UnsignedThirtyTwoBitRange) {
    const struct {
        std::string_view number;
        std::optional<std::uint32_t> expected;
    } cases[] = {
        {"0", 0u},
        {"4294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"-1", std::nullopt},
        {"-0", 0u},
        {"501.0", 501u},
        {"5.01e2", 501u},
        {"4294967295.0", 4294967295u},
        {"4294967296.0", std::nullopt},
        {"501.5", std::nullopt},
        {"-1.0", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"\"501\"", std::nullopt},
        {"true", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto decoded = decodeStorageHealthSnapshot(withUID(c.number));
        ASSERT_EQ(decoded.has_value(), c.expected.has_value()) << c.number;
        if (decoded) {
            EXPECT_EQ(decoded->helperUID, *c.expected) << c.number;
        }
    }
}

TEST(DecodingRulesTest, SignedSixtyFourBitRange) {
    const struct {
        std::string_view number;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"-42", -42},
        {"1e3", 1000},
        {"-0.0", 0},
        {"9007199254740991.0", 9007199254740991},
        {"9007199254740992.0", std::nullopt}, // a double no longer names one integer here
        {"-9.223372036854775808e18", std::nullopt},
        {"0.5", std::nullopt},
        {"1e400", std::nullopt},
        {"[1]", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto decoded = decodeStorageHealthSnapshot(withTemperature(c.number));
        ASSERT_EQ(decoded.has_value(), c.expected.has_value()) << c.number;
        if (decoded) {
            EXPECT_EQ(decoded->reading->temperature, c.expected) << c.number;
        }
    }
}

TEST(DecodingRulesTest, RejectsMalformedAndNonObjectDocuments) {
    const std::string_view inputs[] = {
        "",
        "   ",
        "null",
        "[]",
        R"("state")",
        R"({"state":"busy")",
        R"({"state":"busy"} trailing)",
        R"({"state":"busy",})",
        R"({'state':'busy'})",
        R"({"state":"bu\u00"})",
        "{\"state\":\"busy\xFF\"}",
        R"({"state":"busy" /* c */})",
        R"({"state":NaN})",
    };
    for (std::string_view input : inputs) {
        EXPECT_FALSE(decodeSensorCompanionUpdate(input)) << input;
    }
}

TEST(DecodingRulesTest, AcceptsStandardEscapesAndWhitespace) {
    const auto decoded = decodeSensorCompanionUpdate(
        " {\n\t\"message\" : \"a\\/b \\u00e9\\ud83c\\udfa7\\n\", \"state\":\"failed\" } ");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->message, "a/b \xC3\xA9\xF0\x9F\x8E\xA7\n");
    // Of duplicate keys the last one counts.
    EXPECT_EQ(decodeSensorCompanionUpdate(R"({"state":"busy","state":"available"})")->state,
              SensorCompanionUpdate::State::available);
    EXPECT_FALSE(decodeSensorCompanionUpdate(R"({"state":"busy","state":"Busy"})"));
}

TEST(DecodingRulesTest, BoundsNestingDepth) {
    const auto nested = [](std::size_t depth) {
        return R"({"state":"busy","x":)" + std::string(depth - 1, '[') +
               std::string(depth - 1, ']') + "}";
    };
    EXPECT_TRUE(decodeSensorCompanionUpdate(nested(maxDecodingDepth)));
    EXPECT_FALSE(decodeSensorCompanionUpdate(nested(maxDecodingDepth + 1)));
    EXPECT_FALSE(decodeSensorCompanionUpdate(std::string(1'000'000, '[')));
    // Brackets inside strings do not count.
    EXPECT_TRUE(decodeSensorCompanionUpdate(R"({"state":"busy","x":")" + std::string(1000, '[') +
                                            "\\\"\"}"));
}

} // namespace
} // namespace brivane
