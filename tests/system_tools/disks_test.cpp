#include "disk_description.h"
#include "disk_names.h"
#include "formats/storage_health.h"
#include "reports.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace brivane::system_tools {
namespace {

TEST(DiskNames, WholeDisksInNamingOrder) {
    const std::vector<std::string> block = {
        "sdb",      "loop0",   "nvme1n1", "sda",          "nvme0n2",   "zram0", "nvme0n1",
        "ram0",     "sdaa",    "sdz",     "vda",          "dm-0",      "md127", "sr0",
        "nvme10n1", "nvme2n1", "mmcblk0", "mmcblk0boot0", "nvme0c0n1", "nbd0",  "xvda"};
    EXPECT_EQ(wholeDisks(block),
              (std::vector<std::string>{"nvme0n1", "nvme0n2", "nvme1n1", "nvme2n1", "nvme10n1",
                                        "sda", "sdb", "sdz", "sdaa", "vda", "xvda", "mmcblk0"}));
}

TEST(DiskDescription, SmartFiguresReachTheReaderInItsUnits) {
    struct Case {
        const char* name;
        DiskFacts facts;
        std::optional<StorageHealthReading> expected;
    };
    const auto disk = [](std::optional<BusProperties> nvme, BusProperties nvmeAttributes,
                         std::optional<BusProperties> ata = {},
                         std::vector<AtaAttribute> ataAttributes = {}) {
        const DriveFacts drive{{}, nvme, nvmeAttributes, ata, ataAttributes};
        return DiskFacts{"disk1", "sda", {}, {}, {}, drive, {}};
    };
    const std::vector<Case> cases = {
        {"never read",
         disk(BusProperties{{"SmartUpdated", std::uint64_t{0}},
                            {"SmartTemperature", std::uint64_t{310}}},
              {}),
         {}},
        {"temperature unknown, part of a data unit",
         disk(BusProperties{{"SmartTemperature", std::uint64_t{0}}},
              {{"total_data_read", std::uint64_t{511999}},
               {"total_data_written", std::uint64_t{1023999}}}),
         StorageHealthReading{.totalWritten = 512000}},
        {"counters of the wrong type",
         disk(BusProperties{}, {{"power_cycles", -3.0}, {"media_errors", std::string("0")}}),
         {}},
        {"ata without smart",
         disk({}, {}, BusProperties{{"SmartSupported", false}, {"SmartTemperature", 310.15}}),
         {}},
        {"ata temperature in exact kelvin",
         disk({}, {}, BusProperties{{"SmartTemperature", 310.0}},
              {{12, "power-cycle-count", -1, 1}}),
         StorageHealthReading{.temperature = 37}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StorageHealthReading::parse(diskDescription(c.facts), "disk1"), c.expected);
    }
}

} // namespace
} // namespace brivane::system_tools
