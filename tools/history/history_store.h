#pragma once

// The recorder's side of the history database (history_schema.h has its tables): opens the
// file as the recorder needs it, adds a snapshot at a time, and keeps the tiers: every sample
// for a day, per minute for a week, per hour for two years. A minute is summed up from the
// samples once it is over, an hour from its minutes, so a recorder that restarts picks up where
// the file left off. Each snapshot is one transaction: a recorder killed mid-write loses that
// snapshot at most. No fsync per sample (synchronous=NORMAL): a power cut loses what came after
// the last checkpoint of the write-ahead log.

#include "formats/sensor_snapshot.h"
#include "history_codec.h"
#include "recorded_readings.h"
#include "sqlite_database.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace brivane::cli {

// How long each tier keeps its rows, in milliseconds.
struct HistoryTiers {
    std::int64_t samples = 24LL * 3600 * 1000;
    std::int64_t minutes = 7LL * 24 * 3600 * 1000;
    std::int64_t hours = 730LL * 24 * 3600 * 1000;
};

inline constexpr std::int64_t msPerMinute = 60 * 1000;
inline constexpr std::int64_t msPerHour = 60 * msPerMinute;

// What an alert rule fires now (state) and what it did (events); the alerts keep them here so
// that a restarted recorder knows what it has notified already.
struct AlertState {
    std::string rule, subject, state;
    std::int64_t since = 0; // ms since the epoch
    std::string detail;
};
struct AlertEvent {
    std::int64_t time = 0;
    std::string rule, subject, event; // event: "firing", "resolved", …
    std::optional<double> value;
    std::string message;
};

struct OpenedHistory;

class HistoryStore {
public:
    enum class Opening {
        ready,
        newer,  // written by a newer version: left alone, nothing recorded
        failed, // cannot be opened or made (message says why)
    };
    using Opened = OpenedHistory;

    // Opens, or makes, the database for recording at `nowMs`: a file that is no database, one
    // of another program, or one that fails SQLite's quick check is moved aside and a new one
    // made. Write-ahead logging, except on a network file system (a rollback journal there).
    static Opened open(const std::string& path, std::int64_t nowMs, HistoryTiers tiers = {});

    enum class Written {
        stored,
        full,    // the disk is full: nothing stored
        failed,  // another write error: nothing stored
        damaged, // the file turned out damaged: close it and open again
    };
    struct Outcome {
        Written written = Written::stored;
        std::string problem;
    };

    // Stores one snapshot taken at timeMs by a recorder asking every intervalMs, then sums up
    // the minutes and hours that are over and drops rows past their tier's time.
    Outcome record(const std::vector<RecordedReading>& readings, std::int64_t timeMs,
                   std::int64_t intervalMs);

    // For the alerts: their state and events (in transactions of their own).
    std::vector<AlertState> alertStates();
    bool saveAlertState(const AlertState& state);
    bool clearAlertState(const std::string& rule, const std::string& subject);
    bool addAlertEvent(const AlertEvent& event);

    SqlDatabase& database() { return database_; }
    bool writeAheadLog() const { return writeAheadLog_; }

    HistoryStore(HistoryStore&&) = default;
    HistoryStore& operator=(HistoryStore&&) = default;
    ~HistoryStore();

private:
    HistoryStore(SqlDatabase database, HistoryTiers tiers, bool writeAheadLog);
    bool prepareStatements();
    bool loadCaches();
    std::optional<std::int64_t> seriesId(const RecordedReading& reading);
    std::optional<std::int64_t> layoutId(const std::vector<std::int64_t>& ids);
    const std::vector<std::int64_t>* layoutSeries(std::int64_t layout);
    int writeMarks(std::int64_t series, const SeriesMarks& marks, std::int64_t timeMs);
    int summarise(std::int64_t timeMs);
    int summariseTier(SqlStatement& select, SqlStatement& insert, std::int64_t from,
                      std::int64_t to, std::int64_t bucket, bool fromAggregates);
    int dropOld(std::int64_t timeMs);
    Outcome failure(int code);

    SqlDatabase database_;
    HistoryTiers tiers_;
    bool writeAheadLog_ = true;

    struct Statements {
        SqlStatement insertSeries, insertLayout, insertSample, insertMarks;
        SqlStatement selectSamples, selectMinutes, insertMinute, insertHour;
        SqlStatement deleteSamples, deleteMinutes, deleteHours, deleteMarks, deleteEvents;
    } statements_;

    std::unordered_map<std::string, std::int64_t> series_; // name '\0' kind -> id
    std::map<std::string, std::int64_t> layouts_;          // encoded layout -> id
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> layoutSeries_;
    std::unordered_map<std::int64_t, SeriesMarks> marks_; // the latest stored per series
    std::optional<std::int64_t> nextMinute_, nextHour_;   // the first bucket not summed up yet
    std::int64_t lastCleanup_ = 0;
    bool cachesValid_ = false;
};

struct OpenedHistory {
    HistoryStore::Opening outcome = HistoryStore::Opening::failed;
    std::optional<HistoryStore> store;
    // Lines to say: a file moved aside (where to), why it failed or is left alone.
    std::vector<std::string> said;
};

} // namespace brivane::cli
