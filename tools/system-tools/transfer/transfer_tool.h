#pragma once

#include <span>
#include <string>

namespace brivane::system_tools {

// `brivane-system-tools transfer`: the agent's transfers, one HTTPS exchange, reported on
// standard output (backends/posix/tool_protocol/transfer_report.h).
int runTransfer(std::span<const std::string> args);

} // namespace brivane::system_tools
