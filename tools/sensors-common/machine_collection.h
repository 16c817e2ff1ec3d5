#pragma once

#include "metrics_text.h"

#include <string>
#include <vector>

namespace brivane::cli {

// The runtime folder of the machine-wide service's agent, which its service manager keeps while
// that service runs (and across its restarts), owned by the service's own account.
constexpr const char* machineCollectionFolder = "/run/brivane-sensors";

// Whether the machine-wide service runs under an account other than this process's: its
// exporter or textfile then carries the machine's readings, and a user's carries only the
// user's own series.
bool machineCollectedElsewhere(const std::string& folder = machineCollectionFolder);
// Whether this process runs under the machine-wide service's account.
bool machineCollectionAccount(const std::string& folder = machineCollectionFolder);

// Keeps the families that are a user's own: whether the user's agent answered and how (up,
// scrape duration, loader, version) and the user's busiest processes.
void keepOwnFamilies(std::vector<MetricFamily>& families);

} // namespace brivane::cli
