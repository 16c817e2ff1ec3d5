#include "http_get.h"
#include "support/mock_system_bus.h"
#include "support/staged_agent.h"

#include <ctime>
#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

using namespace std::chrono_literals;

// The disks' series of `export`, from the agent's disk tool over a fixture /sys and a UDisks2
// that behaves as Debian 12's 2.9: an NVMe drive without its controller interface (so only its
// own temperature and limits, as a machine without the root-run health reader gets), an awake
// ATA disk and a sleeping one whose figures UDisks2 last read three hours ago.
class DiskSeriesEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& problem :
             {StagedAgent::mountNamespaceProblem(), MockSystemBus::unavailableReason()}) {
            if (!problem.empty()) {
                GTEST_SKIP() << problem;
            }
        }
    }

    MockSystemBus bus;
    StagedAgent staged{{.bundle = BRIVANE_E2E_LINUX_BUNDLE,
                        .executables = {BRIVANE_E2E_CLI, BRIVANE_E2E_EXPORTER},
                        .environment = {bus.environmentEntry()},
                        .bindSys = true}};
};

TEST_F(DiskSeriesEndToEnd, EveryListedDiskFromTheServicesCacheAndNoneWoken) {
    const auto& sys = staged.sysTree();
    sys.writeFiles("block", "nvme0n1/size=9;sda/size=9;sdb/size=9");
    sys.writeFiles("class/nvme/nvme0", "serial=NV-1");
    sys.symlink("block/nvme0n1/device", "../../class/nvme/nvme0");
    sys.writeFiles("class/nvme/nvme0/hwmon1", "name=nvme;temp1_label=Composite;temp1_input=41850;"
                                              "temp1_max=81850;temp1_crit=84850");
    sys.writeFiles("block/sdb/device/hwmon/hwmon2", "name=drivetemp;temp1_max=55000");
    const auto now = static_cast<long long>(std::time(nullptr));
    const auto asleepSince = std::to_string(now - 3 * 3600);
    const auto wakeLog = staged.path("woken");
    const auto ata = [&](const std::string& name, const std::string& updated,
                         const std::string& rows) {
        return R"({"name": ")" + name + R"(", "block": ")" + name +
               R"(", "drive": {"Model": ["s", "Spinning )" + name + R"("], "Serial": ["s", "Z)" +
               name + R"("]}, "ata": {"SmartSupported": ["b", true], "SmartEnabled": ["b", true],
               "SmartUpdated": ["t", )" +
               updated + R"(], "SmartTemperature": ["d", 313.15], "SmartFailing": ["b", false],
               "SmartPowerOnSeconds": ["t", 36000000]}, "attributes": [)" +
               rows + "]}";
    };
    ASSERT_TRUE(bus.startService(
        BRIVANE_MOCK_SERVICES "/udisks_drives.py", "org.freedesktop.UDisks2",
        R"({"wake_log": ")" + wakeLog + R"(", "drives": [{"name": "nvme", "block": "nvme0n1",
            "drive": {"Model": ["s", "Fast SSD"], "Serial": ["s", "NV-1"]}}, )" +
            ata("sda", std::to_string(now - 60), R"([197, "current-pending-sector", 3, 3])") +
            ", " + ata("sdb", asleepSince, R"([5, "reallocated-sector-count", 0, 3])") + "]}"));
    ASSERT_TRUE(staged.startAgent());
    const auto address = freeLoopbackAddress();
    staged.launch({staged.path("brivane-sensors"), "export", "--endpoint", staged.endpoint(),
                   "--listen", address});
    // The first scrape starts the round and is answered without waiting for it.
    std::string page;
    ASSERT_TRUE(pollUntil(30s, [&] {
        page = httpGet("http://" + address + "/metrics");
        return page.find("brivane_disk_smart_updated_timestamp_seconds{disk=\"sdb\"") !=
               std::string::npos;
    })) << page;
    const std::string sda = R"({disk="sda",model="Spinning sda",serial="Zsda"})",
                      sdb = R"({disk="sdb",model="Spinning sdb",serial="Zsdb"})",
                      nvme = R"({disk="nvme0n1",model="Fast SSD",serial="NV-1"})";
    for (const auto& line : {
             "brivane_disk_temperature_celsius" + nvme + " 42",
             "brivane_disk_temperature_max_celsius" + nvme + " 82",
             "brivane_disk_temperature_crit_celsius" + nvme + " 85",
             "brivane_disk_temperature_celsius" + sda + " 40",
             "brivane_disk_pending_sectors" + sda + " 3",
             "brivane_disk_power_on_seconds_total" + sda + " 3.6e+07",
             "brivane_disk_smart_failing" + sdb + " 0",
             "brivane_disk_reallocated_sectors" + sdb + " 0",
             "brivane_disk_temperature_max_celsius" + sdb + " 55",
             "brivane_disk_smart_updated_timestamp_seconds" + sdb + " " + asleepSince,
         }) {
        EXPECT_NE(page.find("\n" + line + "\n"), std::string::npos) << line << "\n" << page;
    }
    EXPECT_EQ(page.find("brivane_disk_smart_updated_timestamp_seconds" + nvme), std::string::npos);
    EXPECT_EQ(readFile(wakeLog), "");
}

} // namespace
} // namespace brivane::testing
