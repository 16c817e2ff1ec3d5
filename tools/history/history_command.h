#pragma once

#include "sensors-common/cli_options.h"

namespace brivane::cli {

// `brivane-sensors history [SENSOR…]`: what the picked sensors did over --since/--until (the
// last day by default) as a table and a plot per unit, JSON or CSV, and --plot's SVG picture;
// the exit status (3 when there is no history or no sensor matches).
int runHistory(const CliOptions& options);

} // namespace brivane::cli
