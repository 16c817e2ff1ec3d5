#pragma once

// `history`'s plot in the terminal: the series of one unit over the range, in braille dots
// (2×4 to a character cell; '*' without UTF-8), the value axis on the left, the time axis in
// local time below, limits as dashed lines, a legend. Lines are not drawn across gaps.

#include "history_report.h"

#include <cstddef>
#include <string>
#include <vector>

namespace brivane::cli {

struct PlotLook {
    std::size_t width = 80;  // the terminal's columns
    std::size_t height = 12; // rows of the plot area
    bool utf8 = true;
    bool colour = false;
};

std::string terminalPlot(const std::vector<const SeriesReport*>& series, std::int64_t sinceMs,
                         std::int64_t untilMs, const PlotLook& look);

} // namespace brivane::cli
