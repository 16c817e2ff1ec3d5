#include "core/companion_harness.h"
#include "formats/document_codec.h"
#include "platform/linux/hardware_monitor_linux.h"
#include "platform/linux/registry_linux.h"
#include "platform/linux/smc_transport_linux.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

using Reading = SensorSnapshot::Reading;
using Fan = SensorSnapshot::FanReading;

TEST(LinuxSnapshot, AssemblesTheSMCTheOtherMonitorsTheBatteryAndTheCard) {
    TempDir sys;
    addLinuxLaptop(sys);
    CompanionHarness harness;
    harness.otherSMC = std::make_shared<SMC>(
        std::make_shared<platform::linux_backend::LinuxSMCTransport>(sys.path()),
        [](std::string_view) {});
    harness.otherRegistry = std::make_shared<platform::linux_backend::LinuxRegistry>(sys.path());
    harness.hardwareMonitor =
        std::make_shared<platform::linux_backend::LinuxHardwareMonitor>(sys.path());
    const auto service = harness.make();

    const auto bytes = answer([&](auto reply) { service->snapshotWithReply(std::move(reply)); });
    const auto snapshot = decodeSensorSnapshot(bytes.value_or(""));
    ASSERT_TRUE(snapshot) << bytes.value_or("");

    // Absent SMC sensors (−127 °C, 0 °C) and an out-of-range chip sensor are dropped; the
    // other chips come after the SMC and before the battery.
    EXPECT_EQ(snapshot->temperatures,
              (std::vector<Reading>{
                  {"TC0P", 45.25}, {"coretemp/Core 0", 50}, {"BatteryTemperature", 30.5}}));
    // The second SMC fan reads nothing, yet the next fan is numbered after it.
    EXPECT_EQ(snapshot->fans, (std::vector<Fan>{{0, "Left side", 1200, 6000},
                                                {2, "thinkpad fan1", 2900, std::nullopt}}));
    ASSERT_TRUE(snapshot->power && !snapshot->power->empty());
    EXPECT_EQ(snapshot->power->back(), (Reading{"BatteryVoltage", 12.6}));
    EXPECT_EQ(snapshot->graphics, (SensorSnapshot::GraphicsReading{0.37}));
}

} // namespace
} // namespace brivane::testing
