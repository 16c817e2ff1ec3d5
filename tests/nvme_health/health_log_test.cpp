#include "nvme-health/health_log.h"
#include "nvme-health/nvme_controllers.h"
#include "support/temp_dir.h"

#include <array>
#include <gtest/gtest.h>

namespace brivane::system_tools {
namespace {

// The fields sit where the NVMe base specification puts them, little-endian, and a 128-bit
// counter past 64 bits is held at the largest value rather than wrapped.
TEST(NvmeHealthLog, DecodesThePageAndRoundTripsThroughItsFile) {
    std::array<std::uint8_t, nvmeHealthLogBytes> page{};
    page[0] = 0x05;                 // spare and reliability warnings
    page[1] = 0x36, page[2] = 0x01; // 310 K
    page[3] = 97, page[4] = 10, page[5] = 104;
    page[32] = 0x10, page[33] = 0x27;   // 10,000 units read
    page[48 + 8] = 1;                   // written: past 64 bits
    page[112] = 200;                    // power cycles
    page[128] = 0x10, page[129] = 0x0e; // 3600 hours
    page[160] = 3;                      // media errors
    const auto log = decodeHealthLog(page, 1700000000);
    EXPECT_EQ(log, (NvmeHealthLog{.readAt = 1700000000,
                                  .criticalWarning = 5,
                                  .temperatureKelvin = 310,
                                  .availableSpare = 97,
                                  .spareThreshold = 10,
                                  .percentageUsed = 104,
                                  .dataUnitsRead = 10000,
                                  .dataUnitsWritten = UINT64_MAX,
                                  .powerCycles = 200,
                                  .powerOnHours = 3600,
                                  .mediaErrors = 3}));
    EXPECT_EQ(parseHealthFile(formatHealthFile(log)), log);
}

// A file is taken whole or not at all: another writer's text, a cut, a repeated or unknown key,
// a number with anything around it.
TEST(NvmeHealthLog, RefusesAnyFileButWhatTheReaderWrites) {
    const auto good = formatHealthFile(NvmeHealthLog{.readAt = 1, .powerOnHours = 2});
    const std::string cases[] = {
        "",
        good.substr(0, good.size() - 1),
        good + "read_at 1\n",
        good + "extra 1\n",
        good.substr(good.find('\n') + 1),
        "read_at -1\n" + good.substr(good.find('\n') + 1),
        "read_at 1 \n" + good.substr(good.find('\n') + 1),
        "read_at 18446744073709551616\n" + good.substr(good.find('\n') + 1),
        good + std::string(healthFileLimit, '\n'),
    };
    ASSERT_TRUE(parseHealthFile(good));
    for (const auto& text : cases) {
        EXPECT_EQ(parseHealthFile(text), std::nullopt) << text;
    }
}

// Only live controllers that are not runtime-suspended are asked; a namespace maps to its
// controller through its device link.
TEST(NvmeControllers, AwakeOnesAndTheControllerOfANamespace) {
    testing::TempDir sys;
    sys.writeFiles("class/nvme/nvme0", "state=live");
    sys.writeFiles("class/nvme/nvme1", "state=live");
    sys.writeFiles("class/nvme/nvme1/device/power", "runtime_status=suspended");
    sys.writeFiles("class/nvme/nvme2", "state=resetting");
    sys.writeFiles("class/nvme/nvme3", "state=live");
    sys.writeFiles("class/nvme/nvme3/device/power", "runtime_status=active");
    sys.symlink("block/nvme3n1/device", "../../class/nvme/nvme3");
    sys.symlink("block/sda/device", "../../devices/0:0:0:0");
    const platform::posix::RootedDirectory root(sys.path());
    EXPECT_EQ(awakeNvmeControllers(root), (std::vector<std::string>{"nvme0", "nvme3"}));
    EXPECT_EQ(nvmeControllerOf(root, "nvme3n1"), "nvme3");
    EXPECT_EQ(nvmeControllerOf(root, "sda"), std::nullopt);
    EXPECT_EQ(nvmeControllerOf(root, "nvme9n1"), std::nullopt);
}

} // namespace
} // namespace brivane::system_tools
