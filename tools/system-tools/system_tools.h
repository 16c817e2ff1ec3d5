#pragma once

#include <span>
#include <string>
#include <string_view>

// Each tool takes its arguments without the tool name and returns the exit status.
namespace brivane::system_tools {

// Exit status for a command line the tool does not accept.
constexpr int usageError = 64;

// Prints "usage: <synopsis>" on stderr; returns usageError.
int usage(std::string_view synopsis);

// Writes a tool's output on stdout; 0 when all of it went out, else 1.
int printed(std::string_view output);

int runPs(std::span<const std::string> args);
int runTop(std::span<const std::string> args);
int runPmset(std::span<const std::string> args);
int runDiskutil(std::span<const std::string> args);

} // namespace brivane::system_tools
