#include "history_store.h"

#include "history_files.h"
#include "history_schema.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace brivane::cli {
namespace {

constexpr std::string_view sqliteMagic{"SQLite format 3\0", 16};

// Whether the file holds something other than an SQLite database (an empty one is a new one).
bool holdsOtherThanDatabase(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        return false;
    }
    char header[16];
    const std::size_t read = std::fread(header, 1, sizeof header, file);
    // Only read: a failing close loses nothing, but what was read is then not trusted either.
    const bool closed = std::fclose(file) == 0;
    return closed && read != 0 && std::string_view(header, read) != sqliteMagic;
}

std::int64_t bucketOf(std::int64_t timeMs, std::int64_t bucket) {
    const std::int64_t rest = timeMs % bucket;
    return timeMs - (rest < 0 ? rest + bucket : rest);
}

std::string seriesKey(std::string_view name, std::string_view kind) {
    std::string key(name);
    key += '\0';
    key += kind;
    return key;
}

// Why an open file must be moved aside: empty when it is ours (or new), with `version` set.
std::string reasonToMoveAside(SqlDatabase& database, std::int64_t& version, int& failure) {
    const auto userVersion = database.queryInteger("PRAGMA user_version");
    if (!userVersion) {
        failure = database.lastCode();
        return isDamage(failure) ? "damaged" : "";
    }
    version = *userVersion;
    if (version == 0) {
        const auto tables = database.queryInteger("SELECT count(*) FROM sqlite_master");
        if (!tables) {
            failure = database.lastCode();
            return isDamage(failure) ? "damaged" : "";
        }
        return *tables > 0 ? "foreign" : "";
    }
    if (version > historySchemaVersion) {
        return "";
    }
    const auto check = database.queryText("PRAGMA quick_check(1)");
    if (!check) {
        failure = database.lastCode();
        return isDamage(failure) ? "damaged" : "";
    }
    return *check == "ok" ? "" : "damaged";
}

std::string describe(std::string_view reason) {
    if (reason == "foreign") {
        return "is a database of another program";
    }
    if (reason == "damaged") {
        return "is damaged";
    }
    return "is not a database";
}

} // namespace

HistoryStore::HistoryStore(SqlDatabase database, HistoryTiers tiers, bool writeAheadLog)
    : database_(std::move(database)), tiers_(tiers), writeAheadLog_(writeAheadLog) {}

HistoryStore::~HistoryStore() = default;

HistoryStore::Opened HistoryStore::open(const std::string& path, std::int64_t nowMs,
                                        HistoryTiers tiers) {
    Opened result;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The user's own: SQLite gives its logs the file's mode.
        if (const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            made >= 0) {
            ::close(made);
        }
        std::string reason = holdsOtherThanDatabase(path) ? "not-a-database" : "";
        std::string problem;
        std::optional<SqlDatabase> database;
        std::int64_t version = 0;
        if (reason.empty()) {
            database = SqlDatabase::open(
                path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, problem);
            if (!database) {
                result.said.push_back("cannot open " + path + ": " + problem);
                return result;
            }
            database->busyTimeout(5000);
            int failure = SQLITE_OK;
            reason = reasonToMoveAside(*database, version, failure);
            if (reason.empty() && failure != SQLITE_OK) {
                result.said.push_back("cannot read " + path + ": " + database->lastError());
                return result;
            }
        }
        if (!reason.empty()) {
            database.reset();
            const auto aside = moveAside(path, reason, nowMs / 1000, problem);
            if (!aside) {
                result.said.push_back(path + " " + describe(reason) + ", and " + problem);
                return result;
            }
            result.said.push_back(path + " " + describe(reason) + ": moved it to " + *aside +
                                  " and started a new one");
            continue;
        }
        if (version > historySchemaVersion) {
            result.outcome = Opening::newer;
            result.said.push_back(path +
                                  " was written by a newer version of brivane-sensors "
                                  "(history version " +
                                  std::to_string(version) +
                                  "); it is left as it is, and nothing is recorded until that "
                                  "version records again");
            return result;
        }
        const std::size_t slash = path.rfind('/');
        const bool network =
            onNetworkFileSystem(slash == std::string::npos ? "." : path.substr(0, slash));
        const auto mode =
            database->queryText(network ? "PRAGMA journal_mode=DELETE" : "PRAGMA journal_mode=WAL");
        // A small page cache: the recorder reads little, and must stay small for days.
        database->execute("PRAGMA synchronous=NORMAL; PRAGMA cache_size=-1024;"
                          "PRAGMA journal_size_limit=4194304");
        if (version < historySchemaVersion) {
            if (const int code = migrateHistory(*database, static_cast<int>(version));
                code != SQLITE_OK) {
                result.said.push_back("cannot prepare " + path + ": " + database->lastError());
                return result;
            }
        }
        HistoryStore store(std::move(*database), tiers, mode && *mode == "wal");
        if (!store.prepareStatements() || !store.loadCaches()) {
            result.said.push_back("cannot prepare " + path + ": " + store.database_.lastError());
            return result;
        }
        result.outcome = Opening::ready;
        result.store.emplace(std::move(store));
        return result;
    }
    result.said.push_back("cannot start a new " + path);
    return result;
}

bool HistoryStore::prepareStatements() {
    auto& s = statements_;
    auto& d = database_;
    s.insertSeries = d.prepare("INSERT INTO series(name, kind, unit) VALUES(?1, ?2, ?3)");
    s.insertLayout = d.prepare("INSERT INTO layouts(series) VALUES(?1)");
    s.insertSample = d.prepare(
        "INSERT OR REPLACE INTO samples(time, interval, layout, data) VALUES(?1, ?2, ?3, ?4)");
    s.insertMarks = d.prepare("INSERT OR REPLACE INTO marks(series, time, limits, flags, text) "
                              "VALUES(?1, ?2, ?3, ?4, ?5)");
    s.selectSamples = d.prepare("SELECT time, layout, data, 1 FROM samples"
                                " WHERE time >= ?1 AND time < ?2 ORDER BY time");
    s.selectMinutes = d.prepare("SELECT time, layout, data, samples FROM minutes"
                                " WHERE time >= ?1 AND time < ?2 ORDER BY time");
    s.insertMinute = d.prepare(
        "INSERT OR REPLACE INTO minutes(time, samples, layout, data) VALUES(?1, ?2, ?3, ?4)");
    s.insertHour = d.prepare(
        "INSERT OR REPLACE INTO hours(time, samples, layout, data) VALUES(?1, ?2, ?3, ?4)");
    s.deleteSamples = d.prepare("DELETE FROM samples WHERE time < ?1");
    s.deleteMinutes = d.prepare("DELETE FROM minutes WHERE time < ?1");
    s.deleteHours = d.prepare("DELETE FROM hours WHERE time < ?1");
    // A series' marks before the cut are dropped, but for the last one, which still holds.
    s.deleteMarks = d.prepare("DELETE FROM marks WHERE time < ?1 AND EXISTS (SELECT 1 FROM marks"
                              " AS later WHERE later.series = marks.series AND later.time >"
                              " marks.time AND later.time <= ?1)");
    s.deleteEvents = d.prepare("DELETE FROM alert_events WHERE time < ?1");
    for (const SqlStatement* statement :
         {&s.insertSeries, &s.insertLayout, &s.insertSample, &s.insertMarks, &s.selectSamples,
          &s.selectMinutes, &s.insertMinute, &s.insertHour, &s.deleteSamples, &s.deleteMinutes,
          &s.deleteHours, &s.deleteMarks, &s.deleteEvents}) {
        if (!statement->valid()) {
            return false;
        }
    }
    return true;
}

bool HistoryStore::loadCaches() {
    series_.clear();
    layouts_.clear();
    layoutSeries_.clear();
    marks_.clear();
    auto series = database_.prepare("SELECT id, name, kind FROM series");
    auto layouts = database_.prepare("SELECT id, series FROM layouts");
    auto marks =
        database_.prepare("SELECT series, limits, flags, text FROM marks AS m"
                          " WHERE time = (SELECT max(time) FROM marks WHERE series = m.series)");
    if (!series.valid() || !layouts.valid() || !marks.valid()) {
        return false;
    }
    int code = SQLITE_ROW;
    while ((code = series.step()) == SQLITE_ROW) {
        series_[seriesKey(series.text(1), series.text(2))] = series.integer(0);
    }
    if (code != SQLITE_DONE) {
        return false;
    }
    while ((code = layouts.step()) == SQLITE_ROW) {
        if (auto ids = decodeLayout(layouts.blob(1))) {
            layouts_[std::string(layouts.blob(1))] = layouts.integer(0);
            layoutSeries_[layouts.integer(0)] = std::move(*ids);
        }
    }
    if (code != SQLITE_DONE) {
        return false;
    }
    while ((code = marks.step()) == SQLITE_ROW) {
        SeriesMarks stored;
        if (decodeMarks(marks.blob(1), marks.integer(2), stored)) {
            if (!marks.isNull(3)) {
                stored.text = std::string(marks.text(3));
            }
            marks_[marks.integer(0)] = std::move(stored);
        }
    }
    if (code != SQLITE_DONE) {
        return false;
    }
    const auto next = [this](const char* newest, const char* oldestBelow,
                             std::int64_t bucket) -> std::optional<std::int64_t> {
        if (const auto last = database_.queryInteger(newest)) {
            return bucketOf(*last, bucket) + bucket;
        }
        if (const auto first = database_.queryInteger(oldestBelow)) {
            return bucketOf(*first, bucket);
        }
        return std::nullopt;
    };
    nextMinute_ =
        next("SELECT max(time) FROM minutes", "SELECT min(time) FROM samples", msPerMinute);
    nextHour_ = next("SELECT max(time) FROM hours", "SELECT min(time) FROM minutes", msPerHour);
    cachesValid_ = true;
    return true;
}

std::optional<std::int64_t> HistoryStore::seriesId(const RecordedReading& reading) {
    const std::string key = seriesKey(reading.name, reading.kind);
    if (const auto found = series_.find(key); found != series_.end()) {
        return found->second;
    }
    auto& insert = statements_.insertSeries;
    insert.bindText(1, reading.name).bindText(2, reading.kind).bindText(3, reading.unit);
    if (insert.run() != SQLITE_DONE) {
        return std::nullopt;
    }
    const std::int64_t id = database_.lastInsertRowid();
    series_[key] = id;
    return id;
}

std::optional<std::int64_t> HistoryStore::layoutId(const std::vector<std::int64_t>& ids) {
    std::string encoded = encodeLayout(ids);
    if (const auto found = layouts_.find(encoded); found != layouts_.end()) {
        return found->second;
    }
    auto& insert = statements_.insertLayout;
    insert.bindBlob(1, encoded);
    if (insert.run() != SQLITE_DONE) {
        return std::nullopt;
    }
    const std::int64_t id = database_.lastInsertRowid();
    layouts_[std::move(encoded)] = id;
    layoutSeries_[id] = ids;
    return id;
}

const std::vector<std::int64_t>* HistoryStore::layoutSeries(std::int64_t layout) {
    const auto found = layoutSeries_.find(layout);
    return found == layoutSeries_.end() ? nullptr : &found->second;
}

int HistoryStore::writeMarks(std::int64_t series, const SeriesMarks& marks, std::int64_t timeMs) {
    auto& insert = statements_.insertMarks;
    insert.bind(1, series)
        .bind(2, timeMs)
        .bindBlob(3, encodeLimits(marks))
        .bind(4, encodeFlags(marks));
    if (marks.text) {
        insert.bindText(5, *marks.text);
    } else {
        insert.bindNull(5);
    }
    return insert.run();
}

HistoryStore::Outcome HistoryStore::failure(int code) {
    Outcome outcome;
    outcome.written = isDamage(code) ? Written::damaged
                      : isFull(code) ? Written::full
                                     : Written::failed;
    outcome.problem = database_.lastError();
    database_.execute("ROLLBACK");
    cachesValid_ = false; // rows the transaction added to them are gone
    return outcome;
}

HistoryStore::Outcome HistoryStore::record(const std::vector<RecordedReading>& readings,
                                           std::int64_t timeMs, std::int64_t intervalMs) {
    if (!cachesValid_ && !loadCaches()) {
        return failure(database_.lastCode());
    }
    if (database_.execute("BEGIN IMMEDIATE") != SQLITE_OK) {
        return failure(database_.lastCode());
    }
    struct Entry {
        std::int64_t id;
        const RecordedReading* reading;
    };
    std::vector<Entry> entries;
    entries.reserve(readings.size());
    for (const auto& reading : readings) {
        const auto id = seriesId(reading);
        if (!id) {
            return failure(database_.lastCode());
        }
        entries.push_back({*id, &reading});
    }
    std::ranges::stable_sort(entries, {}, &Entry::id);
    // std::unique rather than its ranges form, which clang cannot compile with this library.
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const Entry& a, const Entry& b) { return a.id == b.id; }),
                  entries.end());
    std::vector<std::int64_t> ids;
    std::vector<std::optional<float>> values;
    for (const auto& entry : entries) {
        ids.push_back(entry.id);
        values.push_back(entry.reading->value);
    }
    const auto layout = layoutId(ids);
    if (!layout) {
        return failure(database_.lastCode());
    }
    auto& insert = statements_.insertSample;
    insert.bind(1, timeMs).bind(2, intervalMs).bind(3, *layout).bindBlob(4, encodeSample(values));
    if (insert.run() != SQLITE_DONE) {
        return failure(database_.lastCode());
    }
    for (const auto& entry : entries) {
        auto& stored = marks_[entry.id];
        if (stored != entry.reading->marks) {
            if (writeMarks(entry.id, entry.reading->marks, timeMs) != SQLITE_DONE) {
                return failure(database_.lastCode());
            }
            stored = entry.reading->marks;
        }
    }
    if (summarise(timeMs) != SQLITE_OK || dropOld(timeMs) != SQLITE_OK ||
        database_.execute("COMMIT") != SQLITE_OK) {
        return failure(database_.lastCode());
    }
    return {};
}

int HistoryStore::summarise(std::int64_t timeMs) {
    const std::int64_t minute = bucketOf(timeMs, msPerMinute);
    const std::int64_t hour = bucketOf(timeMs, msPerHour);
    if (!nextMinute_) {
        nextMinute_ = minute;
    }
    if (!nextHour_) {
        nextHour_ = hour;
    }
    if (minute > *nextMinute_) {
        if (const int code = summariseTier(statements_.selectSamples, statements_.insertMinute,
                                           *nextMinute_, minute, msPerMinute, false);
            code != SQLITE_OK) {
            return code;
        }
        nextMinute_ = minute;
    }
    if (hour > *nextHour_) {
        if (const int code = summariseTier(statements_.selectMinutes, statements_.insertHour,
                                           *nextHour_, hour, msPerHour, true);
            code != SQLITE_OK) {
            return code;
        }
        nextHour_ = hour;
    }
    return SQLITE_OK;
}

int HistoryStore::summariseTier(SqlStatement& select, SqlStatement& insert, std::int64_t from,
                                std::int64_t to, std::int64_t bucket, bool fromAggregates) {
    struct Sum {
        float minimum = 0, maximum = 0;
        double total = 0;
        double weight = 0;
    };
    struct Bucket {
        std::int64_t time = 0;
        std::int64_t samples = 0;
        std::map<std::int64_t, Sum> sums;
    };
    std::vector<Bucket> buckets;
    const auto add = [](Sum& sum, float minimum, float average, float maximum, double weight) {
        if (sum.weight == 0) {
            sum.minimum = minimum;
            sum.maximum = maximum;
        } else {
            sum.minimum = std::min(sum.minimum, minimum);
            sum.maximum = std::max(sum.maximum, maximum);
        }
        sum.total += static_cast<double>(average) * weight;
        sum.weight += weight;
    };
    select.bind(1, from).bind(2, to);
    int code = SQLITE_ROW;
    while ((code = select.step()) == SQLITE_ROW) {
        const std::int64_t time = bucketOf(select.integer(0), bucket);
        const std::int64_t weight = std::max<std::int64_t>(1, select.integer(3));
        if (buckets.empty() || buckets.back().time != time) {
            buckets.push_back({time, 0, {}});
        }
        Bucket& current = buckets.back();
        current.samples += weight;
        const auto* ids = layoutSeries(select.integer(1));
        if (!ids) {
            continue;
        }
        if (fromAggregates) {
            const auto values = decodeAggregates(select.blob(2), ids->size());
            for (std::size_t i = 0; values && i < ids->size(); ++i) {
                if (const auto& value = (*values)[i]) {
                    add(current.sums[(*ids)[i]], value->minimum, value->average, value->maximum,
                        static_cast<double>(weight));
                }
            }
        } else {
            const auto values = decodeSample(select.blob(2), ids->size());
            for (std::size_t i = 0; values && i < ids->size(); ++i) {
                if (const auto& value = (*values)[i]) {
                    add(current.sums[(*ids)[i]], *value, *value, *value, 1);
                }
            }
        }
    }
    select.reset();
    if (code != SQLITE_DONE) {
        return code;
    }
    for (const Bucket& done : buckets) {
        std::vector<std::int64_t> ids;
        std::vector<std::optional<Aggregate>> values;
        for (const auto& [id, sum] : done.sums) {
            ids.push_back(id);
            values.push_back(
                Aggregate{sum.minimum, static_cast<float>(sum.total / sum.weight), sum.maximum});
        }
        const auto layout = layoutId(ids);
        if (!layout) {
            return database_.lastCode();
        }
        insert.bind(1, done.time)
            .bind(2, done.samples)
            .bind(3, *layout)
            .bindBlob(4, encodeAggregates(values));
        if (const int inserted = insert.run(); inserted != SQLITE_DONE) {
            return inserted;
        }
    }
    return SQLITE_OK;
}

int HistoryStore::dropOld(std::int64_t timeMs) {
    // Once a minute is enough: rows fall out of a day a minute's worth at a time.
    if (timeMs - lastCleanup_ < msPerMinute && timeMs >= lastCleanup_) {
        return SQLITE_OK;
    }
    const bool hourly = bucketOf(timeMs, msPerHour) != bucketOf(lastCleanup_, msPerHour);
    lastCleanup_ = timeMs;
    auto& s = statements_;
    std::vector<std::pair<SqlStatement*, std::int64_t>> deletes = {
        {&s.deleteSamples, timeMs - tiers_.samples}, {&s.deleteMinutes, timeMs - tiers_.minutes}};
    if (hourly) {
        deletes.insert(deletes.end(), {{&s.deleteHours, timeMs - tiers_.hours},
                                       {&s.deleteMarks, timeMs - tiers_.hours},
                                       {&s.deleteEvents, timeMs - tiers_.hours}});
    }
    for (auto [statement, cut] : deletes) {
        statement->bind(1, cut);
        if (const int code = statement->run(); code != SQLITE_DONE) {
            return code;
        }
    }
    return SQLITE_OK;
}

std::vector<AlertState> HistoryStore::alertStates() {
    std::vector<AlertState> states;
    auto select = database_.prepare("SELECT rule, subject, state, since, detail FROM alert_state"
                                    " ORDER BY since");
    while (select.valid() && select.step() == SQLITE_ROW) {
        states.push_back({std::string(select.text(0)), std::string(select.text(1)),
                          std::string(select.text(2)), select.integer(3),
                          std::string(select.text(4))});
    }
    return states;
}

bool HistoryStore::saveAlertState(const AlertState& state) {
    auto insert = database_.prepare("INSERT OR REPLACE INTO alert_state(rule, subject, state,"
                                    " since, detail) VALUES(?1, ?2, ?3, ?4, ?5)");
    if (!insert.valid()) {
        return false;
    }
    insert.bindText(1, state.rule).bindText(2, state.subject).bindText(3, state.state);
    insert.bind(4, state.since).bindText(5, state.detail);
    return insert.run() == SQLITE_DONE;
}

bool HistoryStore::clearAlertState(const std::string& rule, const std::string& subject) {
    auto erase = database_.prepare("DELETE FROM alert_state WHERE rule = ?1 AND subject = ?2");
    if (!erase.valid()) {
        return false;
    }
    erase.bindText(1, rule).bindText(2, subject);
    return erase.run() == SQLITE_DONE;
}

bool HistoryStore::addAlertEvent(const AlertEvent& event) {
    auto insert = database_.prepare("INSERT INTO alert_events(time, rule, subject, event, value,"
                                    " message) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    if (!insert.valid()) {
        return false;
    }
    insert.bind(1, event.time).bindText(2, event.rule).bindText(3, event.subject);
    insert.bindText(4, event.event).bindText(6, event.message);
    if (event.value) {
        insert.bind(5, *event.value);
    } else {
        insert.bindNull(5);
    }
    return insert.run() == SQLITE_DONE;
}

} // namespace brivane::cli
