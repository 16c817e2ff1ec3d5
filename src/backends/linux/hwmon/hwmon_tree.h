#pragma once

#include "backends/linux/hwmon/hwmon_naming.h"
#include "backends/posix/kernel_files/sysfs_reading.h"
#include "platform/hardware_monitor.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// One channel of a chip, with the files to read it from (paths relative to the sysfs root;
// empty when the chip has no such file).
struct HwmonChannel {
    SensorKind kind = SensorKind::temperature;
    unsigned index = 0;
    std::optional<std::string> label;
    // Power: "_input", else "_average". A voltage, current, power or intrusion channel with
    // alarms and no input (a board's under-voltage flag) is read by its first alarm file, one
    // with limits alone (a card's power limits, a charger's current limit) by its first limit:
    // flagOnly.
    std::string input;
    bool flagOnly = false;
    // The kind's limits and alarms (limitItem, alarmItem) and its fault flag.
    std::array<std::string, sensorLimitCount> limits{};
    std::array<std::string, sensorAlarmCount> alarms{};
    std::string fault;

    const std::string& limit(SensorLimit which) const {
        return limits[static_cast<std::size_t>(which)];
    }
};

struct HwmonChip {
    ChipIdentity identity;
    std::vector<HwmonChannel> channels; // by kind, then by index
};

// The label each channel of a chip goes by, in the channels' order: its _label, else its stem
// ("fan2"). A label the chip repeats within a kind is numbered from its second channel on, in
// index order ("Processor Fan", "Processor Fan 2"), so two sensors never share a key and each
// keeps its name across restarts.
std::vector<std::string> uniqueLabels(const std::vector<HwmonChannel>& channels);

// A node under class/hwmon, power supplies' twins included: its folder ("class/hwmon/hwmon3")
// and who it is, named by its own name attribute (an empty name when it has none).
struct HwmonNode {
    std::string folder;
    ChipIdentity identity;
};

// Every node under class/hwmon, in node order: the one walk of the chips every list starts from.
std::vector<HwmonNode> listHwmonNodes(const posix::RootedDirectory& sys);

// Every chip under class/hwmon whose name `wanted` accepts (every chip without it), in node
// order; the others' files are not walked. A chip's files may sit in its node or, for
// drivers registered the old way, in its device folder; the node's own file wins. Channels
// without an input, or that the kernel marks faulty or disabled, are left out, and so are a
// chip without a name and the twin chip of a battery (a supply of type Battery; a charger's
// twin is a chip like any other).
std::vector<HwmonChip> listHwmonChips(const posix::RootedDirectory& sys,
                                      bool (*wanted)(std::string_view name) = nullptr);

} // namespace brivane::platform::linux_backend
