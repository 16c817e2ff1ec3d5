#include "backends/linux/gpu/drm_cards.h"
#include "backends/linux/sysfs_registry.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <tuple>

namespace brivane::platform::linux_backend {
namespace {

using testing::TempDir;

TEST(DrmCards, BusyFromIdleCounters) {
    EXPECT_DOUBLE_EQ(*busyFromIdle(1000, 1750, 1000), 0.25);
    EXPECT_DOUBLE_EQ(*busyFromIdle(0, 1200, 1000), 0.0); // rounding: more idle than time
    EXPECT_FALSE(busyFromIdle(500, 100, 1000));          // went back: a reload
    EXPECT_FALSE(busyFromIdle(0, 10, 0));
}

// driver, percent, and the other figures an entry has: "asleep", "used/total B", "W", "°C".
using Shown = std::tuple<std::string, std::optional<double>, std::string>;

// The registry's accelerators after its lanes' next pass.
std::vector<Shown> shown(SysfsRegistry& registry, ManualUptimeClock& clock) {
    registry.matchingEntries("IOAccelerator");
    registry.step();
    clock.advance(2); // the slow lane's pace
    std::vector<Shown> out;
    const auto entries = registry.matchingEntries("IOAccelerator");
    while (const auto entry = entries->next()) {
        const auto* statistics = entry->dictionaryProperty("PerformanceStatistics");
        const auto figure = [&](const char* key) -> std::optional<double> {
            const auto found = statistics->find(key);
            return found == statistics->end() ? std::nullopt
                                              : std::optional(std::get<double>(found->second));
        };
        std::ostringstream figures;
        if (entry->numberProperty("Asleep") == 1)
            figures << "asleep ";
        if (const auto used = figure("In use system memory"))
            figures << *used << '/' << figure("Total system memory").value_or(-1) << " B ";
        if (const auto watts = figure("Power (W)"))
            figures << *watts << " W ";
        if (const auto celsius = figure("Temperature (C)"))
            figures << *celsius << " C ";
        out.emplace_back(std::string(*entry->stringProperty("IOClass")),
                         figure("Device Utilization %"), figures.str());
    }
    return out;
}

// Machine classes: values as the drivers document them (amdgpu gpu_busy_percent 0-100; i915
// rc6_residency_ms and xe idle_residency_ms, idle milliseconds since boot).
TEST(DrmCards, EveryCommonCardBusiestFirstSleepingOnesUnread) {
    TempDir sys;
    // Intel iGPU (two GTs, newer kernels' layout) beside a suspended AMD dGPU whose busy file
    // would read 97 if it were read.
    testing::addGraphicsCard(sys, 0, "0000:00:02.0", "i915", "power/runtime_status=active",
                             "gt/gt0/rc6_residency_ms=1000;gt/gt1/rc6_residency_ms=1000");
    testing::addGraphicsCard(sys, 1, "0000:03:00.0", "amdgpu",
                             "gpu_busy_percent=97;power/runtime_status=suspended;"
                             "mem_info_vram_used=1024;mem_info_vram_total=2048;"
                             "hwmon/hwmon3/temp1_input=60000;hwmon/hwmon3/power1_average=9000000");
    // An APU at 3 % with its memory and hwmon chip, and an xe discrete card (two GTs too);
    // NVIDIA through its library; nouveau, which tells how warm, not how busy.
    testing::addGraphicsCard(sys, 2, "0000:c1:00.0", "amdgpu",
                             "gpu_busy_percent=3;mem_info_vram_used=536870912;"
                             "mem_info_vram_total=2147483648;hwmon/hwmon4/name=amdgpu;"
                             "hwmon/hwmon4/temp2_input=48000;hwmon/hwmon4/temp1_input=45000;"
                             "hwmon/hwmon4/power1_average=6500000");
    testing::addGraphicsCard(sys, 3, "0000:04:00.0", "xe",
                             "tile0/gt0/gtidle/idle_residency_ms=500;"
                             "tile0/gt1/gtidle/idle_residency_ms=700");
    testing::addGraphicsCard(sys, 4, "0000:01:00.0", "nvidia", "");
    testing::addGraphicsCard(sys, 5, "0000:05:00.0", "vkms", ""); // tells nothing: no entry
    testing::addGraphicsCard(sys, 6, "0000:06:00.0", "nouveau", "hwmon/hwmon5/temp1_input=40000");
    sys.write("class/drm/card0-DP-1/status", "connected\n");
    const auto clock = std::make_shared<ManualUptimeClock>();
    SysfsRegistry registry(sys.path(), {.clock = clock, .background = false},
                           BRIVANE_TEST_FAKE_NVML);
    // The idle counters give a figure from the second look on.
    EXPECT_EQ(shown(registry, *clock),
              (std::vector<Shown>{{"nvidia", 42, "1.07374e+09/8.58993e+09 B 35.5 W 51 C "},
                                  {"amdgpu", 3, "5.36871e+08/2.14748e+09 B 6.5 W 45 C "},
                                  {"amdgpu", 0, "asleep "},
                                  {"i915", {}, ""},
                                  {"xe", {}, ""},
                                  {"nouveau", {}, "40 C "}}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sys.write("devices/pci0000:00/0000:00:02.0/drm/card0/gt/gt0/rc6_residency_ms", "1000\n");
    sys.write("devices/pci0000:00/0000:00:02.0/drm/card0/gt/gt1/rc6_residency_ms", "101000\n");
    sys.write("devices/pci0000:00/0000:04:00.0/tile0/gt0/gtidle/idle_residency_ms", "100500\n");
    const auto second = shown(registry, *clock);
    ASSERT_EQ(second.size(), 6u);
    // Each card's busiest GT (render never idle, media idle throughout), not their mean.
    EXPECT_EQ(second[0], (Shown{"i915", 100, ""}));
    EXPECT_EQ(second[1], (Shown{"xe", 100, ""}));
    EXPECT_EQ(std::get<0>(second[2]), "nvidia");

    EXPECT_FALSE(NvmlLibrary::open("libbrivane-no-such-library.so.1"));
}

} // namespace
} // namespace brivane::platform::linux_backend
