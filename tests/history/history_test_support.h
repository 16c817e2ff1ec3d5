#pragma once

// What the history's tests share: snapshots made to order, a store opened on a fresh file, and
// reading its rows back.

#include "history/history_store.h"
#include "history/recorded_readings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace brivane::cli::testing {

// Midnight UTC, 2026-03-01, in ms since the epoch: the tests' first sample.
inline constexpr std::int64_t day0 = 1772323200000;

// A snapshot with the given temperatures (key, value) and one fan at `rpm`.
inline SensorSnapshot snapshotOf(const std::map<std::string, double>& temperatures,
                                 double rpm = 1200) {
    SensorSnapshot snapshot;
    for (const auto& [key, value] : temperatures) {
        snapshot.temperatures.push_back({key, value});
    }
    snapshot.fans.push_back({0, std::string("Exhaust"), rpm, 6000});
    return snapshot;
}

inline std::optional<HistoryStore> openStore(const std::string& path, std::int64_t now = day0,
                                             HistoryTiers tiers = {}) {
    auto opened = HistoryStore::open(path, now, tiers);
    EXPECT_EQ(opened.outcome, HistoryStore::Opening::ready);
    return std::move(opened.store);
}

inline std::int64_t countRows(SqlDatabase& database, const std::string& query) {
    return database.queryInteger(query).value_or(-1);
}

} // namespace brivane::cli::testing
