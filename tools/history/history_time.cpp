#include "history_time.h"

#include <array>
#include <ctime>

namespace brivane::cli {
namespace {

constexpr std::int64_t msPerSecond = 1000;
// Further back than any history keeps; also keeps every product below in range.
constexpr std::int64_t longestSpanSeconds = 100LL * 366 * 24 * 3600;

// Reads exactly `digits` digits at `at`.
std::optional<int> digitsAt(std::string_view text, std::size_t& at, std::size_t digits) {
    if (text.size() < at + digits) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    at += digits;
    return value;
}

std::optional<std::int64_t> spanSeconds(std::string_view text) {
    if (text.size() < 2) {
        return std::nullopt;
    }
    std::int64_t count = 0;
    std::size_t at = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        count = count * 10 + (text[at] - '0');
        if (count > longestSpanSeconds) {
            return std::nullopt;
        }
    }
    if (at == 0) {
        return std::nullopt;
    }
    const std::string_view unit = text.substr(at);
    constexpr std::array<std::pair<std::string_view, std::int64_t>, 5> units{
        {{"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}, {"w", 7 * 86400}}};
    for (const auto& [word, seconds] : units) {
        if (unit == word) {
            const std::int64_t span = count * seconds;
            return span <= longestSpanSeconds ? std::optional(span) : std::nullopt;
        }
    }
    return std::nullopt;
}

// HH:MM[:SS] at `at`, to the end of the text.
bool readClock(std::string_view text, std::size_t at, std::tm& fields) {
    const auto hour = digitsAt(text, at, 2);
    if (!hour || at >= text.size() || text[at++] != ':') {
        return false;
    }
    const auto minute = digitsAt(text, at, 2);
    std::optional<int> second = 0;
    if (minute && at < text.size()) {
        second = text[at++] == ':' ? digitsAt(text, at, 2) : std::nullopt;
    }
    if (!minute || !second || at != text.size() || *hour > 23 || *minute > 59 || *second > 59) {
        return false;
    }
    fields.tm_hour = *hour;
    fields.tm_min = *minute;
    fields.tm_sec = *second;
    return true;
}

std::optional<std::int64_t> pointInTime(std::string_view text, std::int64_t nowMs) {
    const bool utc = !text.empty() && text.back() == 'Z';
    if (utc) {
        text.remove_suffix(1);
    }
    std::tm fields{};
    const std::time_t now = static_cast<std::time_t>(nowMs / msPerSecond);
    if (utc ? !::gmtime_r(&now, &fields) : !::localtime_r(&now, &fields)) {
        return std::nullopt;
    }
    std::size_t at = 0;
    if (text.size() >= 10 && text[4] == '-') {
        const auto year = digitsAt(text, at, 4);
        const bool dash = year && text[at++] == '-';
        const auto month = dash ? digitsAt(text, at, 2) : std::nullopt;
        const bool dash2 = month && text[at++] == '-';
        const auto day = dash2 ? digitsAt(text, at, 2) : std::nullopt;
        if (!day || *year < 1970 || *month < 1 || *month > 12 || *day < 1 || *day > 31) {
            return std::nullopt;
        }
        fields = std::tm{};
        fields.tm_year = *year - 1900;
        fields.tm_mon = *month - 1;
        fields.tm_mday = *day;
        if (at < text.size() &&
            !((text[at] == ' ' || text[at] == 'T') && readClock(text, at + 1, fields))) {
            return std::nullopt;
        }
    } else if (readClock(text, 0, fields)) {
        // A time of day still to come is last night's: "--since 22:00" in the morning.
        std::tm today = fields;
        today.tm_isdst = -1;
        const std::time_t seconds = utc ? ::timegm(&today) : ::mktime(&today);
        if (seconds != static_cast<std::time_t>(-1) &&
            static_cast<std::int64_t>(seconds) * msPerSecond > nowMs) {
            --fields.tm_mday;
        }
    } else {
        return std::nullopt;
    }
    const int day = fields.tm_mday;
    fields.tm_isdst = -1;
    const std::time_t seconds = utc ? ::timegm(&fields) : ::mktime(&fields);
    // mktime moves 31 February to March: a day the month does not have is a mistake (the day
    // before the 1st, from a time of day, is meant to move).
    if (seconds == static_cast<std::time_t>(-1) || (fields.tm_mday != day && day > 0)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(seconds) * msPerSecond;
}

} // namespace

std::optional<std::int64_t> parseHistoryTime(std::string_view text, std::int64_t nowMs,
                                             std::string& problem) {
    if (text == "now") {
        return nowMs;
    }
    if (const auto span = spanSeconds(text)) {
        return nowMs - *span * msPerSecond;
    }
    if (const auto point = pointInTime(text, nowMs)) {
        return point;
    }
    problem = "not a time: \"" + std::string(text) +
              "\"; give a span back from now (90s, 10m, 3h, 2d, 1w), a date (2026-03-01), a "
              "date and time (2026-03-01 14:30) or a time of today (14:30)";
    return std::nullopt;
}

std::string utcText(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / msPerSecond);
    std::tm fields{};
    char text[32] = "";
    if (::gmtime_r(&seconds, &fields)) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
    }
    return text;
}

std::string localText(std::int64_t ms, bool withDate) {
    const std::time_t seconds = static_cast<std::time_t>(ms / msPerSecond);
    std::tm fields{};
    char text[32] = "";
    if (::localtime_r(&seconds, &fields)) {
        std::strftime(text, sizeof text, withDate ? "%Y-%m-%d %H:%M" : "%H:%M", &fields);
    }
    return text;
}

} // namespace brivane::cli
