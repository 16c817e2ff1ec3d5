#pragma once

#include "sensors-common/cli_options.h"

#include <string>
#include <string_view>

namespace brivane::cli {

// Runs the metrics request of options and returns the exit status: one snapshot in the text
// exposition format, every series labelled with the user's login name (user="…"), on standard
// output or written atomically to options.output. The text is
// written even when the agent cannot be reached (brivane_up 0), so a stale file never outlives
// the agent; the exit status tells (1 unreachable, 3 no data, 4 the output could not be
// written).
int runMetrics(const CliOptions& options);

// Replaces path whole (backends/posix/system/replaced_file.h): a reader sees the old content or the
// new, and nothing is left beside it, nor anywhere else when the folder is swapped meanwhile; a
// folder that is a symbolic link is refused. The file is readable by everyone (0644), as a
// collector running under another user must read it.
bool writeFileAtomically(const std::string& path, std::string_view text, std::string& problem);

} // namespace brivane::cli
