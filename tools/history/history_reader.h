#pragma once

// What `history` and `watch` read of the history database: its series and their points over a
// time range, opened read-only beside a running recorder (it waits while the recorder writes).
// A range reaches back into the tier that still holds its start, and each finer tier fills in
// after the coarser one ends, so "the last 3 days" is minutes up to the last full minute, then
// samples.

#include "history_codec.h"
#include "history_store.h"
#include "sqlite_database.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brivane::cli {

struct HistorySeries {
    std::int64_t id = 0;
    std::string name, kind, unit;
    SeriesMarks marks; // the latest stored
};

// A sample, or a minute or hour summed up (minimum, average, maximum of its samples).
struct HistoryPoint {
    std::int64_t time = 0;   // its start, ms since the epoch
    std::int64_t span = 0;   // the time it stands for: the recorder's interval, a minute, an hour
    std::int64_t weight = 1; // samples it sums up
    float minimum = 0, average = 0, maximum = 0;
};

class HistoryReader {
public:
    // nullopt, with why, when there is no history there or it is not one this version reads.
    static std::optional<HistoryReader> open(const std::string& path, std::string& problem);

    const std::vector<HistorySeries>& series() const { return series_; }

    // The points of each series of `ids` (in that order) in [sinceMs, untilMs), read at `nowMs`
    // by a recorder keeping `tiers`; nullopt when the database cannot be read. The coarsest
    // tier that still gives `enough` points over the range is read (minutes from 17 hours on,
    // hours from 42 days on): more are finer than any plot, and slower to read.
    std::optional<std::vector<std::vector<HistoryPoint>>>
    read(std::span<const std::int64_t> ids, std::int64_t sinceMs, std::int64_t untilMs,
         std::int64_t nowMs, const HistoryTiers& tiers = {}, std::int64_t enough = 1000);

    std::string lastError() const { return database_.lastError(); }

private:
    explicit HistoryReader(SqlDatabase database) : database_(std::move(database)) {}
    bool load();

    SqlDatabase database_;
    std::vector<HistorySeries> series_;
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> layouts_;
};

} // namespace brivane::cli
