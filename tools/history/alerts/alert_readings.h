#pragma once

// The readings the alert rules test, taken from one snapshot through the walk every client
// takes (sensors-common/snapshot_walk.h), from the disks' health and from whether the agent
// answered at all.

#include "alert_rules.h"
#include "formats/sensor_snapshot.h"
#include "sensors-common/disk_health.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

struct AlertReading {
    std::string name; // as the CLI names it: "k10temp/Tctl", "battery/level", "disk/nvme0n1"
    std::string kind; // a word of alertKindWords()
    std::string unit; // the document's unit word: "celsius", "volts", "rpm", "ratio"
    std::optional<double> value;
    std::array<std::optional<double>, 7> limits{}; // by AlertLimit
    std::uint32_t flags = 0;  // bit per AlertFlag: those the reading has at all
    std::uint32_t raised = 0; // and those raised now
    std::string chip;         // "k10temp" of "k10temp/Tctl"; empty for a reading of no chip

    bool operator==(const AlertReading&) const = default;
};

struct AlertFrame {
    double time = 0; // seconds since 1970
    bool agentAnswered = true;
    std::vector<AlertReading> readings;
};

// The kinds a rule may name: the hardware inputs' type words, then "battery", "graphics",
// "accessory" and "source" for the snapshot's other figures, "disk" and "agent".
const std::vector<std::string_view>& alertKindWords();

// Every reading of the snapshot once (an input listed in a member of its own is not repeated
// from `sensors`). An upper temperature limit at 30 °C or below, or at 150 °C or above, is a
// driver's placeholder and left out.
std::vector<AlertReading> alertReadings(const SensorSnapshot& snapshot);

// "disk/<name>": its temperature and limits; fault raised when SMART says failing, alarm when a
// critical warning bit is set. Then, where the drive reports them, "disk/<name>/spare" (the
// spare capacity left, with the drive's own threshold as its min) and "disk/<name>/life-used"
// (the share of its rated life used), both ratios.
std::vector<AlertReading> diskReadings(const DiskHealth& disk);

// "agent": 1 when the agent answered, 0 when not.
AlertReading agentReading(bool answered);

} // namespace brivane::cli
