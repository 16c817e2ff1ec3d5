#include "smc/smc_byte_conversions.h"
#include "smc/smc_value_decoding.h"
#include "smc_test_support.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace brivane::testing {
namespace {

struct DecodingRow {
    std::string_view type;
    std::vector<std::uint8_t> bytes;
    std::optional<double> expected;
};

// Every type of the vocabulary, read end to end through the simulated SMC.
TEST(SMCGetValue, DecodesEveryDataType) {
    const DecodingRow rows[] = {
        {"ui8 ", {0x05}, 5.0},
        {"ui16", {0x12, 0x34}, 4660.0},
        {"ui32", {0x00, 0x00, 0x01, 0x2C}, 300.0},
        {"ui32", {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
        {"sp1e", {0x40, 0x00}, 1.0},
        {"sp3c", {0x10, 0x00}, 1.0},
        {"sp4b", {0x08, 0x00}, 1.0},
        {"sp5a", {0x04, 0x00}, 1.0},
        {"spa5", {0x00, 0x40}, 2.0},
        {"sp69", {0x02, 0x00}, 1.0},
        {"sp78", {0x2D, 0x80}, 45.5},
        {"sp78", {0xFF, 0x00}, 255.0},
        {"sp87", {0x01, 0x00}, 2.0},
        {"sp96", {0x00, 0x80}, 2.0},
        {"spb4", {0x01, 0x00}, 16.0},
        {"spf0", {0x01, 0x00}, 256.0},
        {"flt ", {0x00, 0x00, 0xC8, 0x42}, 100.0},
        {"flt ", {0x00, 0x00, 0x20, 0xC2}, -40.0},
        {"flt ", {0x00, 0x00, 0x80, 0x7F}, std::numeric_limits<double>::infinity()},
        {"fpe2", {0x1F, 0x40}, 2000.0},
        {"fpe2", {0x1F, 0x43}, 2000.0},
        {"fp2e", {0x12, 0x34}, std::nullopt},
        {"{fds", {0, 0, 0, 0, 'F', 'a', 'n'}, std::nullopt},
        {"si16", {0x00, 0x05}, std::nullopt},
        {"ch8*", {'a', 'b'}, std::nullopt},
    };
    for (const auto& row : rows) {
        SMCHarness h({simKey("TEST", row.type, row.bytes)});
        EXPECT_EQ(h.smc->getValue("TEST"), row.expected) << '"' << row.type << '"';
        EXPECT_TRUE(h.lines.take().empty()) << row.type;
    }
}

TEST(SMCGetValue, PassesNaNThrough) {
    SMCHarness h({simKey("TNaN", "flt ", {0x00, 0x00, 0xC0, 0x7F})});
    EXPECT_TRUE(std::isnan(h.smc->getValue("TNaN").value()));
}

TEST(SMCGetValue, TreatsAllZeroAsNoReadingExceptForTheFiveModeKeys) {
    struct Row {
        std::string_view key;
        bool allowZero;
        std::optional<double> expected;
    };
    const Row rows[] = {
        {"FNum", false, std::nullopt}, {"FNum", true, 0.0},           {"F0Md", false, 0.0},
        {"F1Md", false, 0.0},          {"F0md", false, 0.0},          {"F1md", false, 0.0},
        {"FS! ", false, 0.0},          {"f0md", false, std::nullopt}, {"F2Md", false, std::nullopt},
    };
    for (const auto& row : rows) {
        SMCHarness h({simKey(row.key, "ui8 ", {0})});
        EXPECT_EQ(h.smc->getValue(row.key, row.allowZero), row.expected)
            << row.key << " allowZero=" << row.allowZero;
    }

    SMCHarness h({simKey("PSTR", "flt ", {0, 0, 0, 0}), simKey("EMTY", "ui8 ", {})});
    EXPECT_EQ(h.smc->getValue("PSTR", true), 0.0);
    EXPECT_FALSE(h.smc->getValue("EMTY", true));
    EXPECT_FALSE(h.smc->getValue("EMTY", false));
}

// The plain integer and float cases are read end to end above; these are the remaining edges.
TEST(SMCByteConversions, MatchTheDecodingArithmetic) {
    EXPECT_EQ(intFromFPE2({0xFF, 0xFF}), 255 * 64 + 63);
    for (const float value : {0.0f, -1.5f, 45.25f, 5779.0f, 1e-30f}) {
        EXPECT_EQ(floatFromBytes(floatBytes(value)), value);
    }
    EXPECT_EQ(floatBytes(100.0f), (std::array<std::uint8_t, 4>{0x00, 0x00, 0xC8, 0x42}));
}

TEST(FanDescriptorName, TrimsBlanksButKeepsNulAndLatin1) {
    struct Row {
        std::string_view name; // bytes 4 to 15
        std::string expected;
    };
    const Row rows[] = {
        {"Left side   ", "Left side"},
        {"  Center\t   ", "Center"},
        {{"Right\0\0\0\0\0\0\0", 12}, {"Right\0\0\0\0\0\0\0", 12}},
        {"\xA0Main\xA0      ", "Main"},
        {"Main\n       ", "Main\n"},
        {"Caf\xE9        ", "Caf\xC3\xA9"},
        {"            ", ""},
    };
    for (const auto& row : rows) {
        SMCValueBytes bytes{};
        bytes[0] = 0x01;
        std::copy(row.name.begin(), row.name.end(), bytes.begin() + 4);
        bytes[16] = 'X'; // beyond the name field
        EXPECT_EQ(fanDescriptorName(bytes), row.expected) << row.name;
    }
}

} // namespace
} // namespace brivane::testing
