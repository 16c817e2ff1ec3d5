#pragma once

#include "sensors-common/cli_options.h"

namespace brivane::cli {

// Serves /metrics on options.listen until SIGINT or SIGTERM (exit 0), reading the web
// configuration again on SIGHUP; 1 when it cannot listen, 2 for an address that does not parse
// or a web configuration that cannot be used, 7 when another process listens there. Runs in
// brivane-sensors-export, to which `brivane-sensors export` hands over, so that the client
// links no HTTP server.
int runExport(const CliOptions& options);

} // namespace brivane::cli
