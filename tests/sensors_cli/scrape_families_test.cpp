#include "sensors-common/scrape_families.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

namespace brivane::cli {
namespace {

std::vector<std::string> sampleLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("#")) {
            lines.push_back(line);
        }
    }
    return lines;
}

FetchedSnapshot withDisks() {
    SensorSnapshot snapshot;
    snapshot.temperatures = {{"coretemp/Core 0", 50}};
    snapshot.companionVersion = "1.2.3";
    FetchedSnapshot fetched{snapshot, answered, {}, {{"make", 3}}};
    fetched.disks = std::make_shared<const DiskHealthList>(DiskHealthList{
        {"nvme0n1",
         {.temperature = 41,
          .life = 3,
          .totalRead = 1024,
          .powerCycles = 9,
          .powerOnHours = 2,
          .availableSpare = 7,
          .spareThreshold = 10,
          .mediaErrors = 1,
          .criticalWarning = 5,
          .smartFailing = true,
          .maxTemperature = 80,
          .updated = 1700000000,
          .model = "Fast \"SSD\"",
          .serial = "S1"}},
        {"sda", {.temperature = 35, .pendingSectors = 2, .uncorrectableSectors = 0}},
    });
    return fetched;
}

// Each figure is a series of its unit, labelled by the disk's kernel name, model and serial
// where known; each NVMe warning bit is a series of its own. The text is lint clean and every
// family is documented.
TEST(ScrapeFamilies, DisksAsSeriesDocumentedAndLintClean) {
    const auto text = exposition(scrapeFamilies(withDisks(), 0.25));
    const std::string nvme = R"({disk="nvme0n1",model="Fast \"SSD\"",serial="S1")";
    const auto lines = sampleLines(text);
    for (const auto& line : std::vector<std::string>{
             "brivane_disk_temperature_celsius" + nvme + "} 41",
             R"(brivane_disk_temperature_celsius{disk="sda"} 35)",
             "brivane_disk_temperature_max_celsius" + nvme + "} 80",
             "brivane_disk_power_on_seconds_total" + nvme + "} 7200",
             "brivane_disk_read_bytes_total" + nvme + "} 1024",
             "brivane_disk_life_used_ratio" + nvme + "} 0.97",
             "brivane_disk_available_spare_ratio" + nvme + "} 0.07",
             "brivane_disk_available_spare_threshold_ratio" + nvme + "} 0.1",
             "brivane_disk_media_errors_total" + nvme + "} 1",
             "brivane_disk_smart_failing" + nvme + "} 1",
             "brivane_disk_smart_updated_timestamp_seconds" + nvme + "} 1.7e+09",
             "brivane_disk_critical_warning" + nvme + R"(,warning="spare"} 1)",
             "brivane_disk_critical_warning" + nvme + R"(,warning="temperature"} 0)",
             "brivane_disk_critical_warning" + nvme + R"(,warning="reliability"} 1)",
             R"(brivane_disk_pending_sectors{disk="sda"} 2)",
             R"(brivane_disk_uncorrectable_sectors{disk="sda"} 0)",
         }) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const auto& sample) {
            return sample.ends_with(line);
        })) << line;
    }
    testing::TempDir directory;
    directory.write("scrape.prom", text);
    const auto lint = "promtool check metrics < " + directory / "scrape.prom" + " > " +
                      directory / "lint" + " 2>&1";
    EXPECT_EQ(std::system(lint.c_str()), 0);
    EXPECT_EQ(testing::readFile(directory / "lint"), "");
    const auto documentation = testing::readFile(BRIVANE_SOURCE_DIR "/docs/metrics.md");
    for (const auto& family : scrapeFamilies(withDisks(), 0.25)) {
        EXPECT_NE(documentation.find("| `" + family.name + "` |"), std::string::npos)
            << family.name;
    }
}

// While the machine-wide service exports the machine, a user's scrape carries the user's own
// series only: the agent's health and the user's busiest processes.
TEST(ScrapeFamilies, BesideTheMachineWideServiceOnlyTheUsersOwn) {
    auto fetched = withDisks();
    fetched.machineElsewhere = true;
    EXPECT_EQ(sampleLines(exposition(scrapeFamilies(fetched, 0.25))),
              (std::vector<std::string>{"brivane_up 1", "brivane_scrape_duration_seconds 0.25",
                                        R"(brivane_companion_info{version="1.2.3"} 1)",
                                        R"(brivane_process_energy_impact{name="make"} 3)"}));
}

} // namespace
} // namespace brivane::cli
