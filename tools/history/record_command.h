#pragma once

#include "sensors-common/cli_options.h"
#include "snapshot_observer.h"

#include <vector>

namespace brivane::cli {

// `brivane-sensors record` with the agent of options: records until SIGTERM or SIGINT (status
// 0), SIGHUP has the observers read their configuration again; 8 when another recorder keeps this
// history, 1 when recording cannot start. `observers` are told of every snapshot
// (snapshot_observer.h).
int runRecorder(const CliOptions& options, const std::vector<SnapshotObserver*>& observers = {});

} // namespace brivane::cli
