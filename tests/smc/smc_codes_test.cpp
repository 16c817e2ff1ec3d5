#include "smc/four_char_code.h"
#include "smc/smc_data_type.h"

#include <gtest/gtest.h>
#include <string>

namespace brivane {
namespace {

TEST(FourCharCode, ConvertsBothWays) {
    struct Row {
        std::string_view name;
        std::uint32_t code;
    };
    const Row rows[] = {{"#KEY", 0x234B4559}, {"F0Md", 0x46304D64}, {"ui8 ", 0x75693820},
                        {"{fds", 0x7B666473}, {"FS! ", 0x46532120}, {"FNum", 0x464E756D}};
    for (const auto& row : rows) {
        EXPECT_EQ(fourCharCode(row.name), row.code) << row.name;
        EXPECT_EQ(fourCharCodeString(row.code), row.name) << row.name;
    }
    // Bytes above 0x7F are Latin-1 code points and come out as UTF-8.
    const std::string expected = std::string("\xC3\xBF") + 'A' + '\0' + 'A';
    EXPECT_EQ(fourCharCodeString(0xFF410041), expected);
    EXPECT_EQ(fourCharCodeString(0), std::string(4, '\0'));
}

TEST(SMCDataType, OnlyExactFourCharacterNamesAreKnown) {
    for (const auto raw : {"ui8 ", "sp78", "flt ", "{fds"}) {
        const auto type = smcDataTypeFromRawValue(raw);
        ASSERT_TRUE(type) << raw;
        EXPECT_EQ(static_cast<std::uint32_t>(*type), fourCharCode(raw));
    }
    for (const auto raw : {"ui8", "UI8 ", "flt", "sp78 ", "si16", ""}) {
        EXPECT_FALSE(smcDataTypeFromRawValue(raw)) << raw;
    }
}

} // namespace
} // namespace brivane
