#pragma once

// The times `history --since` and `--until` take: a span back from now ("90s", "10m", "3h",
// "2d", "1w"), "now", a date ("2026-03-01", midnight), a date and time ("2026-03-01 14:30",
// "2026-03-01T14:30:15") or a time of day ("14:30": today's, or yesterday's while today's is
// still to come), in local time unless it ends in "Z" (UTC).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

// ms since the epoch; nullopt, with why in `problem`, for anything else.
std::optional<std::int64_t> parseHistoryTime(std::string_view text, std::int64_t nowMs,
                                             std::string& problem);

// "2026-03-01T14:30:15Z": a time for documents (JSON, CSV), to the second, in UTC.
std::string utcText(std::int64_t ms);
// "2026-03-01 15:30" or "15:30": a time for people, in local time.
std::string localText(std::int64_t ms, bool withDate);

} // namespace brivane::cli
