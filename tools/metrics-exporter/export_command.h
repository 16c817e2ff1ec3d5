#pragma once

#include "sensors-common/cli_options.h"

namespace brivane::cli {

// Serves /metrics on options.listen until SIGINT or SIGTERM (exit 0); 1 when it cannot listen,
// 2 for an address that does not parse. Runs in brivane-sensors-export, to which
// `brivane-sensors export` hands over, so that the client links no HTTP server.
int runExport(const CliOptions& options);

} // namespace brivane::cli
