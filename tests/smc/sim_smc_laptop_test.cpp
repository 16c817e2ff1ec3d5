#include "platform/sim/sim_smc_laptop.h"
#include "smc_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>

namespace brivane::testing {
namespace {

struct Laptop {
    Laptop() : smc(platform::sim::makeSimulatedLaptopSMC(clock), lines.sink()) {}

    std::shared_ptr<platform::ManualUptimeClock> clock =
        std::make_shared<platform::ManualUptimeClock>(100.0);
    CapturedLines lines;
    SMC smc;
};

TEST(SimulatedLaptop, ServesAConsistentKeyTable) {
    Laptop laptop;
    const auto keys = laptop.smc.getAllKeys();
    EXPECT_EQ(laptop.smc.getValue("#KEY"), static_cast<double>(keys.size()));
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));

    int temperatures = 0;
    int outOfRange = 0;
    for (const auto& key : keys) {
        if (key.starts_with("T")) {
            ++temperatures;
            const auto value = laptop.smc.getValue(key);
            if (!value || *value <= 0 || *value >= 150) {
                ++outOfRange;
            }
        }
    }
    EXPECT_GE(temperatures, 40);
    EXPECT_LE(temperatures, 80);
    EXPECT_GE(outOfRange, 3);
    EXPECT_LT(outOfRange, temperatures / 4);

    EXPECT_EQ(laptop.smc.getValue("FNum"), 2.0);
    EXPECT_EQ(laptop.smc.getValue("F0Md"), 0.0);
    EXPECT_EQ(laptop.smc.getStringValue("F0ID"), "Left side");
    EXPECT_EQ(laptop.smc.getStringValue("F1ID"), "Right side");
    EXPECT_EQ(laptop.smc.getValue("F0Mx"), 5779.0);
    const std::tuple<const char*, double, double> ranges[] = {
        {"F0Ac", 1000.0, 1500.0}, {"F1Ac", 1000.0, 1500.0}, {"PSTR", 0.0, 1000.0},
        {"PCPC", 0.0, 1000.0},    {"PG0R", 0.0, 1000.0},    {"PMTR", 0.0, 1000.0},
        {"PPBR", 0.0, 1000.0}};
    for (const auto& [key, low, high] : ranges) {
        const auto value = laptop.smc.getValue(key, true);
        ASSERT_TRUE(value) << key;
        EXPECT_GE(*value, low) << key;
        EXPECT_LE(*value, high) << key;
    }
    EXPECT_TRUE(laptop.lines.take().empty());
}

TEST(SimulatedLaptop, ReadingsWanderWithTheClock) {
    Laptop laptop;
    const auto before = laptop.smc.getValue("Tp01");
    const auto batteryBefore = laptop.smc.getValue("TB0T");
    laptop.clock->advance(7.0);
    const auto after = laptop.smc.getValue("Tp01");
    ASSERT_TRUE(before && after && batteryBefore);
    EXPECT_NE(*before, *after);
    EXPECT_NEAR(*before, *after, 6.0);
    EXPECT_NEAR(*batteryBefore, 30.5, 0.5);
}

} // namespace
} // namespace brivane::testing
