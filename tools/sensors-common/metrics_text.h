#pragma once

#include "formats/sensor_snapshot.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brivane::cli {

// One family of the text exposition format: its samples share a name, a help text and a type.
struct MetricFamily {
    using Labels = std::vector<std::pair<std::string, std::string>>;
    struct Sample {
        Labels labels;
        double value = 0;
    };

    std::string name;
    std::string help;
    bool counter = false; // else a gauge
    std::vector<Sample> samples;
};

// A process name and its summed energy impact, from the agent's energy ranking.
struct ProcessEnergy {
    std::string name;
    double impact = 0;

    bool operator==(const ProcessEnergy&) const = default;
};

// The metric families of one scrape: every reading of the snapshot with its unit, brivane_up and
// the time the scrape took to get the snapshot. Without a snapshot (the agent could not be
// reached or sent none) only brivane_up 0 and the duration remain. Families without samples are
// left out; two samples of one family never share a label set. `busiest` are the processes
// of the latest energy ranking, if any; `agentLoaderAltered` whether the agent was made to load
// foreign code, when the client could look (brivane_agent_loader_altered).
std::vector<MetricFamily> metricFamilies(const SensorSnapshot* snapshot, double scrapeSeconds,
                                         const std::vector<ProcessEnergy>& busiest = {},
                                         std::optional<bool> agentLoaderAltered = std::nullopt);

// Every sample of families gains the label name="value" before its own.
void labelEverySample(std::vector<MetricFamily>& families, const std::string& name,
                      const std::string& value);

// The families in the text exposition format (version 0.0.4), as served on /metrics.
std::string exposition(const std::vector<MetricFamily>& families);

} // namespace brivane::cli
