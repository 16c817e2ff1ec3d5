#pragma once

#include <span>
#include <string>

// Each tool takes its arguments without the tool name and returns the exit status.
namespace brivane::system_tools {

// Exit status for a command line the tool does not accept.
constexpr int usageError = 64;

int runPs(std::span<const std::string> args);
int runTop(std::span<const std::string> args);
int runPmset(std::span<const std::string> args);
int runDiskutil(std::span<const std::string> args);

} // namespace brivane::system_tools
