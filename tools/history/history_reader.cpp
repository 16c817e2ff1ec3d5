#include "history_reader.h"

#include "history_schema.h"

#include <algorithm>
#include <sys/stat.h>
#include <unordered_map>

namespace brivane::cli {
namespace {

struct Tier {
    const char* query; // time, layout, data, samples (or the interval), in a range, by time
    std::int64_t span; // 0: the row's own interval
    bool aggregates;
};

constexpr Tier hoursTier{"SELECT time, layout, data, samples FROM hours"
                         " WHERE time >= ?1 AND time < ?2 ORDER BY time",
                         msPerHour, true};
constexpr Tier minutesTier{"SELECT time, layout, data, samples FROM minutes"
                           " WHERE time >= ?1 AND time < ?2 ORDER BY time",
                           msPerMinute, true};
constexpr Tier samplesTier{"SELECT time, layout, data, interval FROM samples"
                           " WHERE time >= ?1 AND time < ?2 ORDER BY time",
                           0, false};

} // namespace

std::optional<HistoryReader> HistoryReader::open(const std::string& path, std::string& problem) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || status.st_size == 0) {
        problem = "no history of this machine yet (" + path + ")";
        return std::nullopt;
    }
    auto database = SqlDatabase::open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, problem);
    if (!database) {
        return std::nullopt;
    }
    database->busyTimeout(2000);
    const auto version = database->queryInteger("PRAGMA user_version");
    if (!version || *version == 0) {
        problem = path + " is not a history of brivane-sensors" +
                  (version ? std::string() : " (" + database->lastError() + ")");
        return std::nullopt;
    }
    if (*version > historySchemaVersion) {
        problem = path + " was written by a newer version of brivane-sensors (history version " +
                  std::to_string(*version) + ")";
        return std::nullopt;
    }
    HistoryReader reader(std::move(*database));
    if (!reader.load()) {
        problem = "cannot read " + path + ": " + reader.lastError();
        return std::nullopt;
    }
    return reader;
}

bool HistoryReader::load() {
    auto series = database_.prepare("SELECT id, name, kind, unit FROM series ORDER BY id");
    auto layouts = database_.prepare("SELECT id, series FROM layouts");
    auto marks =
        database_.prepare("SELECT series, limits, flags, text FROM marks AS m"
                          " WHERE time = (SELECT max(time) FROM marks WHERE series = m.series)");
    if (!series.valid() || !layouts.valid() || !marks.valid()) {
        return false;
    }
    std::unordered_map<std::int64_t, std::size_t> index;
    int code = SQLITE_ROW;
    while ((code = series.step()) == SQLITE_ROW) {
        index[series.integer(0)] = series_.size();
        series_.push_back({series.integer(0),
                           std::string(series.text(1)),
                           std::string(series.text(2)),
                           std::string(series.text(3)),
                           {}});
    }
    if (code != SQLITE_DONE) {
        return false;
    }
    while ((code = layouts.step()) == SQLITE_ROW) {
        if (auto ids = decodeLayout(layouts.blob(1))) {
            layouts_[layouts.integer(0)] = std::move(*ids);
        }
    }
    if (code != SQLITE_DONE) {
        return false;
    }
    while ((code = marks.step()) == SQLITE_ROW) {
        const auto found = index.find(marks.integer(0));
        SeriesMarks stored;
        if (found != index.end() && decodeMarks(marks.blob(1), marks.integer(2), stored)) {
            if (!marks.isNull(3)) {
                stored.text = std::string(marks.text(3));
            }
            series_[found->second].marks = std::move(stored);
        }
    }
    return code == SQLITE_DONE;
}

std::optional<std::vector<std::vector<HistoryPoint>>>
HistoryReader::read(std::span<const std::int64_t> ids, std::int64_t sinceMs, std::int64_t untilMs,
                    std::int64_t nowMs, const HistoryTiers& tiers, std::int64_t enough) {
    std::vector<std::vector<HistoryPoint>> points(ids.size());
    std::unordered_map<std::int64_t, std::size_t> wanted;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        wanted.emplace(ids[i], i);
    }
    const Tier* chain[] = {&hoursTier, &minutesTier, &samplesTier};
    std::size_t first = 0;
    if (sinceMs >= nowMs - tiers.samples) {
        first = 2;
    } else if (sinceMs >= nowMs - tiers.minutes) {
        first = 1;
    }
    while (first > 0 && (untilMs - sinceMs) / chain[first - 1]->span >= enough) {
        --first;
    }
    std::int64_t cursor = sinceMs;
    for (std::size_t t = first; t < std::size(chain); ++t) {
        const Tier& tier = *chain[t];
        auto select = database_.prepare(tier.query);
        if (!select.valid()) {
            return std::nullopt;
        }
        select.bind(1, cursor).bind(2, untilMs);
        int code = SQLITE_ROW;
        while ((code = select.step()) == SQLITE_ROW) {
            const std::int64_t time = select.integer(0);
            const std::int64_t span = tier.span != 0 ? tier.span : select.integer(3);
            cursor = std::max(cursor, time + std::max<std::int64_t>(span, 1));
            const auto layout = layouts_.find(select.integer(1));
            if (layout == layouts_.end()) {
                continue;
            }
            const auto& series = layout->second;
            const auto add = [&](std::size_t at, float minimum, float average, float maximum,
                                 std::int64_t weight) {
                if (const auto found = wanted.find(series[at]); found != wanted.end()) {
                    points[found->second].push_back(
                        {time, span, weight, minimum, average, maximum});
                }
            };
            if (tier.aggregates) {
                const auto values = decodeAggregates(select.blob(2), series.size());
                for (std::size_t i = 0; values && i < series.size(); ++i) {
                    if (const auto& value = (*values)[i]) {
                        add(i, value->minimum, value->average, value->maximum,
                            std::max<std::int64_t>(1, select.integer(3)));
                    }
                }
            } else {
                const auto values = decodeSample(select.blob(2), series.size());
                for (std::size_t i = 0; values && i < series.size(); ++i) {
                    if (const auto& value = (*values)[i]) {
                        add(i, *value, *value, *value, 1);
                    }
                }
            }
        }
        if (code != SQLITE_DONE) {
            return std::nullopt;
        }
    }
    return points;
}

} // namespace brivane::cli
