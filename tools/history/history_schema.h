#pragma once

// The history database's tables, and its version in PRAGMA user_version. A version adds tables
// or columns and never removes one: a newer recorder migrates an older file in place, and an
// older one leaves a newer file alone (a downgrade must not lose years of history).
//
//   series(id, name, kind, unit)        every series ever recorded; name and kind as the
//                                       client shows them ("k10temp/Tctl", "temperature";
//                                       the figure's word where there is no kind: "battery")
//   layouts(id, series)                 the ids of a row's series, ascending (encodeLayout)
//   samples(time, interval, layout, data)   every snapshot for a day: time in ms since the
//                                       epoch (UTC), the recorder's interval in ms, the
//                                       values (encodeSample)
//   minutes(time, samples, layout, data)    per minute for a week: minimum, average, maximum
//   hours(time, samples, layout, data)      per hour for two years (encodeAggregates)
//   marks(series, time, limits, flags, text)  a series' limits, alarms, fault and text, a row
//                                       whenever they change (encodeLimits, encodeFlags)
//   alert_state(rule, subject, state, since, detail)   what the alerts fire now, so that a
//                                       restarted recorder does not notify again
//   alert_events(id, time, rule, subject, event, value, message)   firings and recoveries

#include "sqlite_database.h"

namespace brivane::cli {

inline constexpr int historySchemaVersion = 1;

// The statements that bring a file of `from` (0: a new file) to historySchemaVersion, run in
// one transaction with the version set; SQLITE_OK or the error.
int migrateHistory(SqlDatabase& database, int from);

} // namespace brivane::cli
