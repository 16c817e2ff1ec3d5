#pragma once

// What the terminal plot and the SVG picture share: the value range that holds the series and
// the limits near them, and the time axis' ticks on round local times.

#include "history_report.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

struct PlotLimit {
    double value = 0; // shown (shownValue)
    std::string word; // "crit", "max", …
    bool critical = false;
};

struct PlotScale {
    double low = 0, high = 1; // shown values at the bottom and top
    std::vector<PlotLimit> limits;
    int decimals = 0; // for labels
};

// The range of all the series' points, widened to hold their limits that lie near it (a
// critical limit far above a cool sensor would flatten its line).
PlotScale plotScale(const std::vector<const SeriesReport*>& series);

struct TimeTick {
    std::int64_t time = 0;
    std::string label; // local time
};

// Ticks on round local times between the two, at most one per `slots` of the axis.
std::vector<TimeTick> timeTicks(std::int64_t sinceMs, std::int64_t untilMs, std::size_t slots);

// Whether two points in a row have a gap between them (the later starts well after the first
// ends): lines are not drawn across it.
inline bool gapBetween(const HistoryPoint& before, const HistoryPoint& after) {
    return after.time > before.time + before.span + before.span / 2;
}

} // namespace brivane::cli
