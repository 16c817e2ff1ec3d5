#pragma once

#include "formats/storage_health.h"
#include "platform/tool_runner.h"

#include <optional>
#include <string>

namespace brivane {

// The disk utility's description of one disk as a property list.
platform::ToolRun storageHealthToolRun(const std::string& name);

// SMART figures of a disk whose name has passed the name check. Blocks while the tool runs,
// at most about two seconds; any failure gives an absent reading.
std::optional<StorageHealthReading> readStorageHealth(platform::ToolRunner& runner,
                                                      const std::string& name);

} // namespace brivane
