#include "rule_values.h"

#include "formats/nearest_word.h"

#include <array>
#include <charconv>
#include <cmath>

namespace brivane::cli {
namespace {

constexpr std::array<std::string_view, 7> limitWords = {"min",       "max",    "lcrit", "crit",
                                                        "emergency", "target", "cap"};
constexpr std::array<std::string_view, alertFlagCount> flagWords = {
    "alarm", "min", "max", "lcrit", "crit", "emergency", "cap", "fault"};
constexpr std::array<std::string_view, 3> severityWords = {"info", "warning", "critical"};
constexpr double longestDuration = 7 * 86400;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

ValueProblem problem(std::size_t offset, std::string message) {
    return {offset, std::move(message)};
}

// "unknown word 'crti' (did you mean 'crit'?)"
template <std::size_t N>
std::string unknown(std::string_view what, std::string_view word,
                    const std::array<std::string_view, N>& words) {
    std::string text = "unknown " + std::string(what) + " '" + std::string(word) + "'";
    if (const auto nearest = nearestWord(word, words)) {
        return text + " (did you mean '" + std::string(*nearest) + "'?)";
    }
    std::string list;
    for (const auto candidate : words) {
        list += (list.empty() ? "" : ", ") + std::string(candidate);
    }
    return text + " (one of " + list + ")";
}

template <std::size_t N>
std::optional<std::size_t> indexOf(std::string_view word,
                                   const std::array<std::string_view, N>& words) {
    for (std::size_t i = 0; i < N; ++i) {
        if (words[i] == word) {
            return i;
        }
    }
    return std::nullopt;
}

// The length of the number at the start of text: a sign, digits, and a fraction.
std::size_t numberLength(std::string_view text) {
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        ++at;
    }
    const std::size_t digits = at;
    while (at < text.size() && isDigit(text[at])) {
        ++at;
    }
    if (at == digits) {
        return 0;
    }
    if (at + 1 < text.size() && text[at] == '.' && isDigit(text[at + 1])) {
        ++at;
        while (at < text.size() && isDigit(text[at])) {
            ++at;
        }
    }
    return at;
}

std::optional<double> numberValue(std::string_view text) {
    const std::string_view digits = text.substr(text.front() == '+' ? 1 : 0);
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::size_t skipBlanks(std::string_view text, std::size_t at) {
    while (at < text.size() && isBlank(text[at])) {
        ++at;
    }
    return at;
}

// The words of a list and where each starts.
std::vector<std::pair<std::string_view, std::size_t>> wordsOf(std::string_view text) {
    std::vector<std::pair<std::string_view, std::size_t>> words;
    std::size_t at = 0;
    while (at < text.size()) {
        if (isBlank(text[at]) || text[at] == ',') {
            ++at;
            continue;
        }
        const std::size_t start = at;
        while (at < text.size() && !isBlank(text[at]) && text[at] != ',') {
            ++at;
        }
        words.emplace_back(text.substr(start, at - start), start);
    }
    return words;
}

} // namespace

Parsed<bool> parseYesNo(std::string_view text) {
    static constexpr std::array<std::string_view, 6> words = {"yes",   "no", "true",
                                                              "false", "on", "off"};
    if (const auto index = indexOf(text, words)) {
        return *index % 2 == 0;
    }
    return problem(0, text.empty() ? "expected yes or no" : unknown("answer", text, words));
}

Parsed<double> parseNumber(std::string_view text) {
    const std::size_t length = numberLength(text);
    if (length == 0) {
        return problem(0, "expected a number");
    }
    if (length != text.size()) {
        return problem(length,
                       "unexpected '" + std::string(text.substr(length)) + "' after the number");
    }
    if (const auto value = numberValue(text)) {
        return *value;
    }
    return problem(0, "number out of range");
}

Parsed<double> parseDuration(std::string_view text) {
    if (text == "0") {
        return 0.0;
    }
    if (text.empty()) {
        return problem(0, "expected a duration such as 30s, 2m or 1h");
    }
    double seconds = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = at;
        while (at < text.size() && isDigit(text[at])) {
            ++at;
        }
        if (at == start) {
            return problem(at, "expected a number of seconds (s), minutes (m), hours (h) or days "
                               "(d) such as 30s, 2m or 1h30m");
        }
        if (at == text.size() || !isLetter(text[at])) {
            return problem(at, "a unit must follow the number: s, m, h or d");
        }
        double unit = 0;
        switch (text[at]) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        default:
            return problem(at, "unknown unit '" + std::string(1, text[at]) + "': s, m, h or d");
        }
        if (at - start > 9) {
            return problem(start, "duration longer than a week");
        }
        seconds += unit * *numberValue(text.substr(start, at - start));
        ++at;
    }
    if (seconds > longestDuration) {
        return problem(0, "duration longer than a week");
    }
    return seconds;
}

Parsed<Threshold> parseThreshold(std::string_view text) {
    Threshold threshold;
    std::size_t at = skipBlanks(text, 0);
    while (true) {
        ThresholdTerm term;
        if (at == text.size()) {
            return problem(at, "expected a number or a limit (" + std::string(limitWords[0]) +
                                   ", max, lcrit, crit, emergency, target, cap)");
        }
        if (isLetter(text[at])) {
            const std::size_t start = at;
            while (at < text.size() && isLetter(text[at])) {
                ++at;
            }
            const std::string_view word = text.substr(start, at - start);
            const auto index = indexOf(word, limitWords);
            if (!index) {
                return problem(start, unknown("limit", word, limitWords));
            }
            term.limit = static_cast<AlertLimit>(*index);
            at = skipBlanks(text, at);
            if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
                const bool minus = text[at] == '-';
                at = skipBlanks(text, at + 1);
                const std::size_t length = numberLength(text.substr(at));
                if (length == 0 || text[at] == '-' || text[at] == '+') {
                    return problem(at, "expected a number after '" +
                                           std::string(minus ? "-" : "+") + "'");
                }
                const auto value = numberValue(text.substr(at, length));
                if (!value) {
                    return problem(at, "number out of range");
                }
                term.offset = minus ? -*value : *value;
                at += length;
            }
        } else {
            const std::size_t length = numberLength(text.substr(at));
            if (length == 0) {
                return problem(at, "expected a number or a limit");
            }
            const auto value = numberValue(text.substr(at, length));
            if (!value) {
                return problem(at, "number out of range");
            }
            term.offset = *value;
            at += length;
        }
        threshold.alternatives.push_back(term);
        at = skipBlanks(text, at);
        if (at == text.size()) {
            return threshold;
        }
        if (text.substr(at, 2) != "or" || (at + 2 < text.size() && !isBlank(text[at + 2]))) {
            return problem(at, "expected 'or' before another alternative");
        }
        if (threshold.alternatives.size() == 8) {
            return problem(at, "more than 8 alternatives");
        }
        at = skipBlanks(text, at + 2);
    }
}

Parsed<WordFilter> parseWordFilter(std::string_view text,
                                   std::string (*check)(std::string_view word)) {
    WordFilter filter;
    const auto words = wordsOf(text);
    if (words.empty()) {
        return problem(0, "expected at least one word");
    }
    if (words.size() > 64) {
        return problem(words[64].second, "more than 64 words");
    }
    for (const auto& [word, offset] : words) {
        const bool excluded = word.front() == '!';
        const std::string_view bare = word.substr(excluded ? 1 : 0);
        if (bare.empty()) {
            return problem(offset, "expected a word after '!'");
        }
        if (auto message = check(bare); !message.empty()) {
            return problem(offset + (excluded ? 1 : 0), std::move(message));
        }
        (excluded ? filter.excluded : filter.included).emplace_back(bare);
    }
    return filter;
}

Parsed<std::uint32_t> parseFlags(std::string_view text) {
    const auto words = wordsOf(text);
    if (words.empty()) {
        return problem(0, "expected 'any' or alarm flags");
    }
    std::uint32_t flags = 0;
    for (const auto& [word, offset] : words) {
        if (word == "any") {
            flags |= (1u << alertFlagCount) - 1;
        } else if (const auto index = indexOf(word, flagWords)) {
            flags |= 1u << *index;
        } else {
            return problem(offset, unknown("flag", word, flagWords));
        }
    }
    return flags;
}

Parsed<AlertSeverity> parseSeverity(std::string_view text) {
    if (const auto index = indexOf(text, severityWords)) {
        return static_cast<AlertSeverity>(*index);
    }
    return problem(0, unknown("severity", text, severityWords));
}

std::string_view wordOf(AlertLimit limit) {
    return limitWords[static_cast<std::size_t>(limit)];
}
std::string_view wordOf(AlertFlag flag) {
    return flagWords[static_cast<std::size_t>(flag)];
}
std::string_view wordOf(AlertSeverity severity) {
    return severityWords[static_cast<std::size_t>(severity)];
}

std::string durationText(double seconds) {
    auto left = static_cast<long long>(std::llround(seconds));
    if (left == 0) {
        return "0s";
    }
    std::string text;
    for (const auto& [unit, letter] :
         {std::pair{86400LL, 'd'}, {3600LL, 'h'}, {60LL, 'm'}, {1LL, 's'}}) {
        if (left >= unit) {
            text += std::to_string(left / unit) + letter;
            left %= unit;
        }
    }
    return text;
}

} // namespace brivane::cli
