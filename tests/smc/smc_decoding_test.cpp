#include "smc/smc_value_decoding.h"
#include "smc_test_support.h"

#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <span>

namespace brivane::testing {
namespace {

// "2d80" -> {0x2D, 0x80}
std::vector<std::uint8_t> hexBytes(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), 0, 16)));
    }
    return bytes;
}

// Reads one key of the given type and bytes (hexadecimal) through the simulated SMC.
void expectValue(std::string_view key, std::string_view type, std::string_view hex, bool allowZero,
                 std::optional<double> expected) {
    SCOPED_TRACE(std::string(key) + " \"" + std::string(type) + "\" " + std::string(hex));
    SMCHarness h({simKey(key, type, hexBytes(hex))});
    const auto value = h.smc->getValue(key, allowZero);
    ASSERT_EQ(value.has_value(), expected.has_value());
    if (value) {
        EXPECT_THAT(*value, ::testing::NanSensitiveDoubleEq(*expected));
    }
    EXPECT_TRUE(h.lines.take().empty());
}

constexpr std::nullopt_t none = std::nullopt;

struct DecodingRow {
    std::string_view type;
    std::string_view hex;
    std::optional<double> expected;
};

TEST(SMCGetValue, DecodesIntegersFixedPointAndFloatsButNoOtherTypes) {
    const DecodingRow rows[] = {
        {"ui8 ", "05", 5},     {"ui16", "1234", 4660}, {"ui32", "ffffffff", 4294967295},
        {"sp1e", "4000", 1},   {"spa5", "0040", 2},    {"sp78", "2d80", 45.5},
        {"sp78", "ff00", 255}, {"spf0", "0100", 256}};
    const double nan = std::nan(""), infinity = std::numeric_limits<double>::infinity();
    const DecodingRow floats[] = {
        {"flt ", "0000c842", 100}, {"flt ", "000020c2", -40}, {"flt ", "0000807f", infinity},
        {"flt ", "0000c07f", nan}, {"fpe2", "1f40", 2000},    {"fpe2", "1f43", 2000},
        {"fpe2", "ffff", 16383},   {"fp2e", "1234", none},    {"{fds", "00000000466e", none},
        {"si16", "0005", none},    {"ch8*", "6162", none}};
    for (const auto& table :
         {std::span<const DecodingRow>(rows), std::span<const DecodingRow>(floats)}) {
        for (const auto& row : table) {
            expectValue("TEST", row.type, row.hex, false, row.expected);
        }
    }
}

TEST(SMCGetValue, TreatsAllZeroAsNoReadingExceptForTheFiveModeKeys) {
    struct Row {
        std::string_view key;
        bool allowZero;
        std::optional<double> expected;
    };
    const Row rows[] = {{"FNum", false, none}, {"FNum", true, 0.0},  {"F1Md", false, 0.0},
                        {"F0md", false, 0.0},  {"FS! ", false, 0.0}, {"f0md", false, none},
                        {"F2Md", false, none}};
    for (const auto& row : rows) {
        expectValue(row.key, "ui8 ", "00", row.allowZero, row.expected);
    }
    expectValue("PSTR", "flt ", "00000000", true, 0.0);
    expectValue("EMTY", "ui8 ", "", true, none);
}

TEST(FanDescriptorName, TrimsBlanksButKeepsNulAndLatin1) {
    struct Row {
        std::string_view name; // bytes 4 to 15
        std::string expected;
    };
    const Row rows[] = {
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
