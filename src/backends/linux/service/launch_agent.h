#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// The parts of a launch-agent property list that a systemd unit needs.
struct LaunchAgentDescription {
    std::string label;
    std::vector<std::string> programArguments; // bundle-relative paths resolved
    std::vector<std::string> machServices;
};

// Reads a launch-agent property list (XML or binary); absent when it lacks a usable label or
// program.
std::optional<LaunchAgentDescription> readLaunchAgent(const std::filesystem::path& plist,
                                                      const std::filesystem::path& bundle);

} // namespace brivane::platform::linux_backend
