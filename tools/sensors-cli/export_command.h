#pragma once

#include "cli_options.h"

namespace brivane::cli {

// Serves /metrics on options.listen until SIGINT or SIGTERM (exit 0); 1 when it cannot listen,
// 2 for an address that does not parse. Runs in brivane-sensors-export, to which
// `brivane-sensors export` hands over, so that the client links no HTTP server.
int runExport(const CliOptions& options);

// Replaces this process with brivane-sensors-export beside the running executable, with the
// same arguments; returns only when that fails (after saying why), with status 1.
int handOverToExporter(char** argv);

} // namespace brivane::cli
