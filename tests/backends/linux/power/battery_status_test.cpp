#include "backends/linux/power/battery_status.h"
#include "backends/linux/sysfs_registry.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

// Units as in Documentation/ABI/testing/sysfs-class-power: µW, µA, µV, µWh, µAh, seconds.
TEST(BatteryStatus, CombinedFromTheKernelsUnits) {
    SupplyReading thinkpad; // discharging at 4.83 W, power_now
    thinkpad.state = BatteryState::discharging;
    thinkpad.powerNow = 4'830'000;
    thinkpad.voltageNow = 12'100'000;
    thinkpad.energyNow = 40'000'000;
    thinkpad.energyFull = 50'000'000;
    thinkpad.energyFullDesign = 57'000'000;
    thinkpad.cycleCount = 312;

    SupplyReading chargeBased; // charging, current × voltage, µAh at the design voltage
    chargeBased.state = BatteryState::charging;
    chargeBased.currentNow = -1'500'000;
    chargeBased.voltageNow = 12'000'000;
    chargeBased.voltageMinDesign = 11'400'000;
    chargeBased.chargeNow = 2'000'000;
    chargeBased.chargeFull = 4'000'000;
    chargeBased.chargeFullDesign = 4'400'000;

    SupplyReading idleInternal; // ThinkPad BAT0 while BAT1 powers the machine
    idleInternal.state = BatteryState::notCharging;
    idleInternal.powerNow = 0;
    idleInternal.voltageNow = 10'800'000;
    idleInternal.energyNow = 20'000'000;
    idleInternal.energyFull = 23'000'000;
    idleInternal.temperature = 291;
    SupplyReading swappable = idleInternal;
    swappable.state = BatteryState::discharging;
    swappable.powerNow = 6'000'000;
    swappable.voltageNow = 11'100'000;
    swappable.energyNow = 10'000'000;
    swappable.temperature = std::nullopt;

    SupplyReading capacityOnly; // no energy or charge files: the kernel's own time
    capacityOnly.state = BatteryState::discharging;
    capacityOnly.capacity = 64;
    capacityOnly.timeToEmptyNow = 7200;

    struct Case {
        const char* what;
        std::vector<SupplyReading> batteries;
        BatteryStatus expected;
    };
    const Case cases[] = {
        {"one battery, µW and µWh",
         {thinkpad},
         {BatteryState::discharging, 0.8, 4.83, 12.1, {}, 40.0 / 4.83 * 3600, {}, 50.0 / 57, 312}},
        {"µA × µV and µAh",
         {chargeBased},
         {BatteryState::charging, 0.5, 18.0, 12.0, {}, {}, 2.0 * 11.4 / 18 * 3600, 4.0 / 4.4, {}}},
        {"two batteries: the discharging one powers, the charge is combined",
         {idleInternal, swappable},
         {BatteryState::discharging, 30.0 / 46, 6.0, 11.1, 29.1, 30.0 / 6 * 3600, {}, {}, {}}},
        {"capacity only",
         {capacityOnly},
         {BatteryState::discharging, 0.64, {}, {}, {}, 7200.0, {}, {}, {}}},
    };
    const auto near = [](std::optional<double> a, std::optional<double> b) {
        return a.has_value() == b.has_value() && (!a || std::abs(*a - *b) < 1e-9);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const BatteryStatus got = combineBatteries(c.batteries);
        EXPECT_EQ(got.state, c.expected.state);
        EXPECT_TRUE(near(got.level, c.expected.level)) << got.level.value_or(-1);
        EXPECT_TRUE(near(got.watts, c.expected.watts)) << got.watts.value_or(-1);
        EXPECT_TRUE(near(got.volts, c.expected.volts));
        EXPECT_TRUE(near(got.celsius, c.expected.celsius));
        EXPECT_TRUE(near(got.secondsToEmpty, c.expected.secondsToEmpty))
            << got.secondsToEmpty.value_or(-1);
        EXPECT_TRUE(near(got.secondsToFull, c.expected.secondsToFull))
            << got.secondsToFull.value_or(-1);
        EXPECT_TRUE(near(got.health, c.expected.health));
        EXPECT_EQ(got.cycleCount, c.expected.cycleCount);
    }
    EXPECT_EQ(parseBatteryState("Not charging"), BatteryState::notCharging);
    EXPECT_EQ(parseBatteryState("Unknown"), std::nullopt);
}

SensorPoller::Setup patient() { // background lanes; the first request waits for the first pass
    SensorPoller::Setup setup;
    setup.timing.firstWait = 10;
    return setup;
}

// A peripheral's battery or an adapter is no system battery; one without a scope is.
TEST(SysfsRegistry, FindsTheSystemBatteryPassingOverPeripheralsAndAdapters) {
    testing::TempDir sys;
    testing::addPowerSupply(sys, "hidpp_battery_0", "usb1/hidpp",
                            "type=Battery;scope=Device;temp=250");
    testing::addPowerSupply(sys, "ADP1", "platform/ADP1", "type=Mains");
    EXPECT_EQ(SysfsRegistry(sys.path(), patient()).firstEntry("AppleSmartBattery"), nullptr);

    testing::addPowerSupply(sys, "macsmc-battery", "platform/macsmc-battery",
                            "type=Battery;scope=System;temp=305;voltage_now=12600500;"
                            "model_name=\xff\xfe");
    SysfsRegistry registry(sys.path(), patient());
    const auto battery = registry.firstEntry("AppleSmartBattery");
    ASSERT_NE(battery, nullptr);
    EXPECT_EQ(battery->numberProperty("Temperature"), 3050);
    EXPECT_EQ(battery->numberProperty("Voltage"), 12600.5);

    // A Steam Deck's BAT1 has no temp: its platform chip measures the battery.
    testing::TempDir deck;
    testing::addPowerSupply(deck, "BAT1", "platform/BAT1", "type=Battery;voltage_now=8000000");
    testing::addHwmonChip(deck, {"hwmon0", "platform/VLV0100:00/steamdeck-hwmon",
                                 "name=steamdeck_hwmon;temp1_label=Battery Temp;temp1_input=31000;"
                                 "fan1_label=System Fan;fan1_input=3000"});
    SysfsRegistry deckRegistry(deck.path(), patient());
    const auto unscoped = deckRegistry.firstEntry("AppleSmartBattery");
    ASSERT_NE(unscoped, nullptr);
    EXPECT_EQ(unscoped->numberProperty("Temperature"), 3100);
}

} // namespace
} // namespace brivane::platform::linux_backend
