#include "smc_key_catalogue.h"

#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

TEST(SmcKeyCatalogue, NamesWellKnownKeysAndLeavesTheRestUnnamed) {
    const struct {
        const char* key;
        const char* described; // "name|group", empty for no description
    } cases[] = {
        {"TC0P", "CPU proximity|CPU"},
        {"TC3C", "CPU core 3|CPU"},
        {"Tp0D", "CPU performance core|CPU"},
        {"Tg05", "GPU core|GPU"},
        {"TB0T", "Battery|battery"},
        {"TB2T", "Battery 2|battery"},
        {"Tm0P", "Mainboard proximity|mainboard"},
        {"Tm02", "Memory|memory"},
        {"TH0x", "SSD (NAND flash)|storage"},
        {"TaRF", "Airflow right|ambient"},
        {"TCxC", ""}, // '#' wants a digit
        {"TR0Z", ""},
        {"TC0", ""},
        {"TC0PX", ""},
        {"cpu/Package id 0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const auto description = describeSmcKey(c.key);
        EXPECT_EQ(description ? description->name + "|" + std::string(groupName(description->group))
                              : "",
                  c.described);
    }
}

} // namespace
} // namespace brivane::cli
