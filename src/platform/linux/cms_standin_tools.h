#pragma once

#include "platform/linux/tool_invocations.h"

#include <string>

namespace brivane::platform::linux_backend {

// Runs "brivane-codesign <subcommand> <the macOS arguments>" from the directory of the running
// executable (/proc/self/exe), where the bundle installs it next to the agent. Environment,
// time limit and watchdog queue stay those of the request. Without a readable executable path
// the tool has no stand-in here.
ToolTranslation codesignStandIn(std::string subcommand);

} // namespace brivane::platform::linux_backend
