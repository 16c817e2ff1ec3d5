#pragma once

#include "formats/sensor_snapshot.h"

#include <prometheus/metric_family.h>
#include <string>
#include <vector>

namespace brivane::cli {

// The metric families of one scrape: every reading of the snapshot with its unit, brivane_up and
// the time the scrape took to get the snapshot. Without a snapshot (the agent could not be
// reached or sent none) only brivane_up 0 and the duration remain. Families without samples are
// left out; two samples of one family never share a label set.
std::vector<prometheus::MetricFamily> metricFamilies(const SensorSnapshot* snapshot,
                                                     double scrapeSeconds);

// The families in the text exposition format, as served on /metrics.
std::string exposition(const std::vector<prometheus::MetricFamily>& families);

} // namespace brivane::cli
