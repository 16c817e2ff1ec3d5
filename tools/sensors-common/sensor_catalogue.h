#pragma once

// Names and groups for every sensor a snapshot carries: the SMC keys (smc_key_catalogue.h), the
// Linux hardware monitors' "<chip>/<label>" of any type and the battery's. Shown beside the key,
// never instead of it.

#include "smc_key_catalogue.h"

#include <optional>
#include <string_view>

namespace brivane::cli {

// The group of a hardware-monitor chip by its driver's name ("coretemp", "nvme@0000:01:00.0"),
// or of a thermal zone by its type ("SEN1", "cpu-thermal"): other for a chip the table does not
// know.
SensorGroup chipGroup(std::string_view chip);

// A sensor key's description:
// - an SMC key: the SMC catalogue's, nothing for a key it does not know;
// - "<chip>/<label>": the label, or for a channel the driver left unlabelled ("temp2") the chip
//   and the channel ("acpitz temp2", "rpi_volt in0"), in its chip's group, else its kind's;
// - "thermal_zone/<type>": the type, in its type's group, else the mainboard's;
// - "BatteryTemperature": the battery.
std::optional<SmcKeyDescription>
describeSensor(std::string_view key, std::optional<platform::SensorKind> kind = std::nullopt);

} // namespace brivane::cli
