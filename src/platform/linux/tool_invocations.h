#pragma once

#include "platform/tool_runner.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// Turns a macOS invocation into the local run that stands in for it, or nothing when this
// machine has no equivalent (the run then fails to launch, as a missing tool would).
using ToolTranslation = std::function<std::optional<ToolRun>(const ToolRun&)>;

struct ToolInvocation {
    std::string macPath;
    ToolTranslation translate;
};

// No local equivalent, whatever the arguments.
ToolTranslation unavailable();

// Only this exact macOS argument vector has an equivalent: the given local path, arguments and
// environment. The time limit and watchdog queue of the request are kept.
ToolTranslation whenArguments(std::vector<std::string> macArguments, std::string localPath,
                              std::vector<std::string> localArguments,
                              ToolEnvironment localEnvironment);

// A stand-in that accepts the macOS arguments and environment unchanged.
ToolTranslation sameArguments(std::string localPath);

// Every macOS tool the readers and the updater run, with its local stand-in.
const std::vector<ToolInvocation>& toolInvocations();

// The run to start for a requested one: the translation of a known macOS tool, the request
// itself for a path the table does not know, or nothing when the tool has no equivalent here.
std::optional<ToolRun> localInvocation(const ToolRun& requested);

} // namespace brivane::platform::linux_backend
