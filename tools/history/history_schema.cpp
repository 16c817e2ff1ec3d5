#include "history_schema.h"

#include <string>

namespace brivane::cli {
namespace {

// One entry per version: what it adds to the one before.
constexpr const char* steps[] = {
    // 1
    "CREATE TABLE series(id INTEGER PRIMARY KEY, name TEXT NOT NULL, kind TEXT NOT NULL,"
    " unit TEXT NOT NULL, UNIQUE(name, kind));"
    "CREATE TABLE layouts(id INTEGER PRIMARY KEY, series BLOB NOT NULL UNIQUE);"
    "CREATE TABLE samples(time INTEGER PRIMARY KEY, interval INTEGER NOT NULL,"
    " layout INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE TABLE minutes(time INTEGER PRIMARY KEY, samples INTEGER NOT NULL,"
    " layout INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE TABLE hours(time INTEGER PRIMARY KEY, samples INTEGER NOT NULL,"
    " layout INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE TABLE marks(series INTEGER NOT NULL, time INTEGER NOT NULL, limits BLOB,"
    " flags INTEGER NOT NULL, text TEXT, PRIMARY KEY(series, time)) WITHOUT ROWID;"
    "CREATE TABLE alert_state(rule TEXT NOT NULL, subject TEXT NOT NULL, state TEXT NOT NULL,"
    " since INTEGER NOT NULL, detail TEXT, PRIMARY KEY(rule, subject)) WITHOUT ROWID;"
    "CREATE TABLE alert_events(id INTEGER PRIMARY KEY, time INTEGER NOT NULL,"
    " rule TEXT NOT NULL, subject TEXT NOT NULL, event TEXT NOT NULL, value REAL,"
    " message TEXT);"
    "CREATE INDEX alert_events_time ON alert_events(time);",
};
static_assert(std::size(steps) == historySchemaVersion);

} // namespace

int migrateHistory(SqlDatabase& database, int from) {
    int code = database.execute("BEGIN IMMEDIATE");
    for (int version = from; code == SQLITE_OK && version < historySchemaVersion; ++version) {
        code = database.execute(steps[version]);
    }
    if (code == SQLITE_OK) {
        const std::string set = "PRAGMA user_version = " + std::to_string(historySchemaVersion);
        code = database.execute(set.c_str());
    }
    if (code == SQLITE_OK) {
        code = database.execute("COMMIT");
    }
    if (code != SQLITE_OK) {
        database.execute("ROLLBACK");
    }
    return code;
}

} // namespace brivane::cli
