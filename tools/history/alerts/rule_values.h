#pragma once

// The values of alerts.conf's keys, each parsed from the text after "key =". A value that does
// not parse says where in that text it goes wrong, so the file's error can point at the column.

#include "alert_rules.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace brivane::cli {

struct ValueProblem {
    std::size_t offset = 0; // bytes into the value
    std::string message;
};

template <typename T> using Parsed = std::variant<T, ValueProblem>;

Parsed<bool> parseYesNo(std::string_view text);
// A decimal number: "90", "-0.5", "3.3".
Parsed<double> parseNumber(std::string_view text);
// "0", "90s", "2m", "1h30m", "1d": at most a week.
Parsed<double> parseDuration(std::string_view text);
// "crit - 5 or 90", "min", "0.1".
Parsed<Threshold> parseThreshold(std::string_view text);
// Blank- or comma-separated words, each one a "!" before it excludes; every word passes
// `check`, which returns its problem, empty when it is fine.
Parsed<WordFilter> parseWordFilter(std::string_view text,
                                   std::string (*check)(std::string_view word));
// "any" or flag words: a bit per AlertFlag.
Parsed<std::uint32_t> parseFlags(std::string_view text);
Parsed<AlertSeverity> parseSeverity(std::string_view text);

// The words as the file writes them.
std::string_view wordOf(AlertLimit limit);
std::string_view wordOf(AlertFlag flag);
std::string_view wordOf(AlertSeverity severity);
// "2m", "1h30m", "45s".
std::string durationText(double seconds);

} // namespace brivane::cli
