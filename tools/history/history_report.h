#pragma once

// `history`'s answer: the series a user's patterns pick, what each did over the range (minimum,
// average, maximum, last), and that answer as a table, JSON and CSV.

#include "history_reader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

struct SeriesReport {
    const HistorySeries* series = nullptr;
    std::vector<HistoryPoint> points;
    // Over the range; absent without a point.
    std::optional<float> minimum, average, maximum, last;
    std::int64_t lastTime = 0;
};

struct HistoryReport {
    std::int64_t sinceMs = 0, untilMs = 0, nowMs = 0;
    std::vector<SeriesReport> series;
};

// The series whose names match any of `patterns` (shell globs: '*', '?', '[…]'; all of them when
// there is none), in the database's order; `unmatched` lists the patterns that picked none.
std::vector<const HistorySeries*> pickSeries(const std::vector<HistorySeries>& all,
                                             const std::vector<std::string>& patterns,
                                             std::vector<std::string>& unmatched);

// Fills in what each series did from its points.
void summarise(SeriesReport& report);

// A value in the unit people read ("°C", "%" for a ratio), without the unit.
double shownValue(double value, std::string_view unit);
// The unit's symbol, after a blank ("" for a count).
std::string unitSuffix(std::string_view unit, bool utf8);

// The table: sensor, kind, minimum, average, maximum, last (each with its unit).
std::string historyTable(const HistoryReport& report, bool utf8);
// {"time", "since", "until", "sensors": [{"name", "kind", "unit", "minimum", "average",
// "maximum", "last", "lastTime", "limits", "points": [{"time", "minimum", "average",
// "maximum"}]}]}, values in the document's units, times in UTC.
std::string historyJson(const HistoryReport& report);
// time,sensor,kind,unit,minimum,average,maximum: a line per point.
std::string historyCsv(const HistoryReport& report);

} // namespace brivane::cli
