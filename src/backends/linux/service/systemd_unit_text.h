#pragma once

#include "backends/linux/service/launch_agent.h"

#include <optional>
#include <string>

namespace brivane::platform::linux_backend {

// Unit file texts for a launch agent; absent when a value cannot be written safely into a unit
// (control characters, a socket name that would leave the runtime folder) or systemd would not
// run it (an executable path with a quote or a backslash). The service runs the agent
// sandboxed, with only what it needs.
std::optional<std::string> serviceUnitText(const LaunchAgentDescription& agent);
std::optional<std::string> socketUnitText(const LaunchAgentDescription& agent);

// Whether a label can name a unit: letters, digits and ":-_.@\" only.
bool isUsableUnitName(const std::string& label);

} // namespace brivane::platform::linux_backend
