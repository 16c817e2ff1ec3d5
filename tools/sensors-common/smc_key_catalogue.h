#pragma once

// Human names for the well-known SMC temperature keys. Shown beside the key, never instead of
// it: a document's `key` stays what the agent sent, and unknown keys simply have no name.

#include "platform/sensor_kinds.h"

#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

using platform::SensorGroup;

struct SmcKeyDescription {
    std::string name; // "CPU core 2", "Battery", "Airflow left"
    SensorGroup group = SensorGroup::other;
};

// The description of a four-character SMC key; nothing for keys the catalogue does not know
// (and for anything that is not four characters long).
std::optional<SmcKeyDescription> describeSmcKey(std::string_view key);

// "CPU", "GPU", "memory", "storage", "battery", "power", "wireless", "mainboard", "display",
// "ambient", "surface", "other".
std::string_view groupName(SensorGroup group);

} // namespace brivane::cli
