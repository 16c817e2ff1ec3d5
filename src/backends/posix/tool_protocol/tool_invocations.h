#pragma once

#include "platform/tool_runner.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::posix {

// Turns a macOS invocation into the local run that stands in for it, or nothing when this
// machine has no equivalent (the run then fails to launch, as a missing tool would).
using ToolTranslation = std::function<std::optional<ToolRun>(const ToolRun&)>;

struct ToolInvocation {
    std::string macPath;
    ToolTranslation translate;
};

// Runs "<executable> <firstArgument> <the macOS arguments>" from the directory of the running
// executable (/proc/self/exe), where the bundle installs its stand-in tools next to the agent.
// Environment, time limit and watchdog queue stay those of the request. Without a readable
// executable path the tool has no stand-in here.
ToolTranslation siblingTool(std::string executable, std::string firstArgument);

// Every macOS tool the readers and the updater run, with its local stand-in.
const std::vector<ToolInvocation>& toolInvocations();

// The run to start for a requested one: the translation of a known macOS tool, the request
// itself for a path the table does not know, or nothing when the tool has no equivalent here.
std::optional<ToolRun> localInvocation(const ToolRun& requested);

} // namespace brivane::platform::posix
