#pragma once

#include "metrics_text.h"
#include "snapshot_sharing.h"

#include <vector>

namespace brivane::cli {

// Every family of one scrape or textfile: the snapshot's (metricFamilies), the disks' and the
// CPUs' counters (cpu_metrics.h) when the fetch carries them, and only the user's own while the
// machine-wide service carries the rest.
std::vector<MetricFamily> scrapeFamilies(const FetchedSnapshot& fetched, double scrapeSeconds);

} // namespace brivane::cli
