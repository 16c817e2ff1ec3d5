#include "rule_file.h"

#include "alert_readings.h"
#include "base/utf8.h"
#include "formats/nearest_word.h"
#include "rule_values.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace brivane::cli {
namespace {

// A piece of the file and where it starts.
struct Located {
    std::string_view text;
    std::size_t line = 0;
    std::size_t column = 0;
};

struct Entry {
    Located key;
    Located value;
};

struct Section {
    Located name;
    std::vector<Entry> entries;
};

struct Document {
    std::vector<Entry> globals;
    std::vector<Section> sections;
};

enum class Key {
    enabled,
    kind,
    match,
    above,
    below,
    alarm,
    hysteresis,
    chipAbove,
    chipRising,
    forDuration,
    clearFor,
    severity,
    summary,
    notify,
    exec,
    execTimeout,
    shippedRules,
};

struct KeyInfo {
    std::string_view word;
    Key key;
    bool global; // allowed before the first rule
    bool rule;   // allowed in a rule
    bool test;   // one of the test's keys, replaced as a whole
};

constexpr std::array<KeyInfo, 17> keys = {{
    {"enabled", Key::enabled, false, true, false},
    {"kind", Key::kind, false, true, false},
    {"match", Key::match, false, true, false},
    {"above", Key::above, false, true, true},
    {"below", Key::below, false, true, true},
    {"alarm", Key::alarm, false, true, true},
    {"hysteresis", Key::hysteresis, false, true, true},
    {"chip-above", Key::chipAbove, false, true, false},
    {"chip-rising", Key::chipRising, false, true, false},
    {"for", Key::forDuration, false, true, false},
    {"clear-for", Key::clearFor, false, true, false},
    {"severity", Key::severity, false, true, false},
    {"summary", Key::summary, false, true, false},
    {"notify", Key::notify, true, true, false},
    {"exec", Key::exec, true, true, false},
    {"exec-timeout", Key::execTimeout, true, true, false},
    {"shipped-rules", Key::shippedRules, true, false, false},
}};

constexpr std::size_t longestRuleName = 64;
constexpr std::size_t longestSummary = 200;

const KeyInfo* keyInfo(std::string_view word) {
    for (const auto& info : keys) {
        if (info.word == word) {
            return &info;
        }
    }
    return nullptr;
}

// A failed parse: thrown inside this file only, caught by parseRuleFile.
struct Failure {
    RuleFileProblem problem;
};

[[noreturn]] void fail(std::size_t line, std::size_t column, std::string message) {
    throw Failure{{line, column, std::move(message)}};
}
[[noreturn]] void fail(const Located& at, std::string message, std::size_t offset = 0) {
    // The offset is in bytes into at.text; the column counts characters.
    std::size_t characters = 0;
    for (std::size_t i = 0; i < offset && i < at.text.size(); ++i) {
        characters += (static_cast<unsigned char>(at.text[i]) & 0xC0) != 0x80 ? 1 : 0;
    }
    fail(at.line, at.column + characters, std::move(message));
}

std::size_t columnOf(std::string_view line, std::size_t offset) {
    std::size_t column = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        column += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 ? 1 : 0;
    }
    return column;
}

Located locate(std::string_view line, std::size_t number, std::size_t from, std::size_t to) {
    return {line.substr(from, to - from), number, columnOf(line, from)};
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Every byte valid UTF-8 and no control character but the tab: what a rule file holds is shown
// in terminals and notifications.
void checkCharacters(std::string_view text) {
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto sequence = base::utf8::decode(text, at);
        const std::size_t column = columnOf(text.substr(lineStart), at - lineStart);
        if (!sequence.valid) {
            fail(line, column, "not UTF-8 text");
        }
        const char32_t c = sequence.codePoint;
        if (c == '\n') {
            ++line;
            lineStart = at + 1;
        } else if ((c < 0x20 && c != '\t' &&
                    !(c == '\r' && at + 1 < text.size() && text[at + 1] == '\n')) ||
                   (c >= 0x7F && c < 0xA0)) {
            fail(line, column, "control character in the file");
        }
        at += sequence.length;
    }
}

Document lex(std::string_view text) {
    checkCharacters(text);
    Document document;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        std::size_t first = 0;
        while (first < line.size() && isBlank(line[first])) {
            ++first;
        }
        std::size_t last = line.size();
        while (last > first && isBlank(line[last - 1])) {
            --last;
        }
        if (first == last || line[first] == '#') {
            continue;
        }
        if (line[first] == '[') {
            const std::size_t close = line.find(']', first);
            if (close == std::string_view::npos) {
                fail(number, columnOf(line, last), "expected ']' after the rule's name");
            }
            if (close + 1 != last) {
                fail(number, columnOf(line, close + 1), "unexpected text after ']'");
            }
            std::size_t from = first + 1;
            std::size_t to = close;
            while (from < to && isBlank(line[from])) {
                ++from;
            }
            while (to > from && isBlank(line[to - 1])) {
                --to;
            }
            const Located name = locate(line, number, from, to);
            if (name.text.empty()) {
                fail(number, columnOf(line, first + 1), "expected a rule's name");
            }
            if (name.text.size() > longestRuleName) {
                fail(name, "rule name longer than 64 characters");
            }
            for (std::size_t i = 0; i < name.text.size(); ++i) {
                const char c = name.text[i];
                if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.')) {
                    fail(name, "a rule's name takes letters, digits, '-', '_' and '.'", i);
                }
            }
            for (const auto& section : document.sections) {
                if (section.name.text == name.text) {
                    fail(name, "rule '" + std::string(name.text) + "' is already defined on line " +
                                   std::to_string(section.name.line));
                }
            }
            if (document.sections.size() == mostAlertRules) {
                fail(name, "more than " + std::to_string(mostAlertRules) + " rules");
            }
            document.sections.push_back({name, {}});
            continue;
        }
        const std::size_t equals = line.find('=', first);
        std::size_t keyEnd = equals;
        if (equals == std::string_view::npos) {
            keyEnd = first;
            while (keyEnd < last && !isBlank(line[keyEnd])) {
                ++keyEnd;
            }
        }
        while (keyEnd > first && isBlank(line[keyEnd - 1])) {
            --keyEnd;
        }
        const Located key = locate(line, number, first, keyEnd);
        const KeyInfo* info = keyInfo(key.text);
        if (!info) {
            std::vector<std::string_view> words;
            for (const auto& candidate : keys) {
                words.push_back(candidate.word);
            }
            std::string message = "unknown key '" + std::string(key.text) + "'";
            if (const auto nearest = nearestWord(key.text, words)) {
                message += " (did you mean '" + std::string(*nearest) + "'?)";
            } else if (equals == std::string_view::npos) {
                message = "expected '[rule]' or 'key = value'";
            }
            fail(key, message);
        }
        if (equals == std::string_view::npos) {
            fail(number, columnOf(line, keyEnd),
                 "expected '=' after '" + std::string(key.text) + "'");
        }
        std::size_t valueStart = equals + 1;
        while (valueStart < last && isBlank(line[valueStart])) {
            ++valueStart;
        }
        const Entry entry{key, locate(line, number, valueStart, std::max(valueStart, last))};
        const bool inRule = !document.sections.empty();
        if (inRule ? !info->rule : !info->global) {
            fail(key, "'" + std::string(key.text) +
                          (inRule ? "' belongs before the first rule" : "' belongs in a rule"));
        }
        auto& entries = inRule ? document.sections.back().entries : document.globals;
        for (const auto& earlier : entries) {
            if (earlier.key.text == key.text) {
                fail(key, "'" + std::string(key.text) + "' is already set on line " +
                              std::to_string(earlier.key.line));
            }
        }
        entries.push_back(entry);
    }
    return document;
}

const Entry* find(const std::vector<Entry>* entries, std::string_view key) {
    if (entries) {
        for (const auto& entry : *entries) {
            if (entry.key.text == key) {
                return &entry;
            }
        }
    }
    return nullptr;
}

// A value of a key that takes no free text, where a blank and '#' start what was meant as a
// comment.
void checkNoComment(const Entry& entry) {
    const std::string_view text = entry.value.text;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '#' && isBlank(text[i - 1])) {
            fail(entry.value, "a comment takes a line of its own", i);
        }
    }
}

template <typename T> T value(const Entry& entry, Parsed<T> parsed) {
    checkNoComment(entry);
    if (const auto* problem = std::get_if<ValueProblem>(&parsed)) {
        fail(entry.value, "'" + std::string(entry.key.text) + "': " + problem->message,
             problem->offset);
    }
    return std::get<T>(std::move(parsed));
}

std::string checkKind(std::string_view word) {
    const auto& known = alertKindWords();
    if (std::find(known.begin(), known.end(), word) != known.end()) {
        return {};
    }
    std::string message = "unknown kind '" + std::string(word) + "'";
    if (const auto nearest = nearestWord(word, known)) {
        return message + " (did you mean '" + std::string(*nearest) + "'?)";
    }
    return message;
}

std::string checkPattern(std::string_view word) {
    return word.size() > 256 ? "pattern longer than 256 characters" : std::string();
}

// A rule from its entries: the user's, else (for the keys a rule's own entries do not replace)
// the shipped rule's, else for the keys every rule takes the user's globals.
AlertRule buildRule(const Located& name, const std::vector<Entry>* user,
                    const std::vector<Entry>* shipped, const std::vector<Entry>& globals) {
    bool userTest = false;
    for (const auto& info : keys) {
        if (info.test && find(user, info.word)) {
            userTest = true;
        }
    }
    const auto entry = [&](const KeyInfo& info) -> const Entry* {
        if (const Entry* own = find(user, info.word)) {
            return own;
        }
        if (!(info.test && userTest)) {
            if (const Entry* base = find(shipped, info.word)) {
                return base;
            }
        }
        return info.global ? find(&globals, info.word) : nullptr;
    };

    AlertRule rule;
    rule.name = std::string(name.text);
    const Entry* test = nullptr;
    const Entry* hysteresis = nullptr;
    const Entry* chipRising = nullptr;
    for (const auto& info : keys) {
        const Entry* found = entry(info);
        if (!found) {
            continue;
        }
        const Entry& e = *found;
        switch (info.key) {
        case Key::enabled:
            rule.enabled = value(e, parseYesNo(e.value.text));
            break;
        case Key::kind:
            rule.kinds = value(e, parseWordFilter(e.value.text, checkKind));
            break;
        case Key::match:
            rule.names = value(e, parseWordFilter(e.value.text, checkPattern));
            break;
        case Key::above:
        case Key::below:
        case Key::alarm:
            if (test) {
                fail(e.key, "a rule has one test; '" + std::string(test->key.text) +
                                "' is set on line " + std::to_string(test->key.line));
            }
            test = &e;
            if (info.key == Key::alarm) {
                rule.test = AlertRule::Test::alarm;
                rule.flags = value(e, parseFlags(e.value.text));
            } else {
                rule.test =
                    info.key == Key::above ? AlertRule::Test::above : AlertRule::Test::below;
                rule.threshold = value(e, parseThreshold(e.value.text));
            }
            break;
        case Key::hysteresis:
            hysteresis = &e;
            rule.hysteresis = value(e, parseNumber(e.value.text));
            if (rule.hysteresis < 0) {
                fail(e.value, "'hysteresis' cannot be negative");
            }
            break;
        case Key::chipAbove:
            rule.chipAbove = value(e, parseNumber(e.value.text));
            break;
        case Key::chipRising:
            chipRising = &e;
            rule.chipRising = value(e, parseYesNo(e.value.text));
            break;
        case Key::forDuration:
            rule.forSeconds = value(e, parseDuration(e.value.text));
            break;
        case Key::clearFor:
            rule.clearForSeconds = value(e, parseDuration(e.value.text));
            break;
        case Key::severity:
            rule.severity = value(e, parseSeverity(e.value.text));
            break;
        case Key::summary:
            if (e.value.text.size() > longestSummary) {
                fail(e.value, "summary longer than 200 characters");
            }
            rule.summary = std::string(e.value.text);
            break;
        case Key::notify:
            rule.notify = value(e, parseYesNo(e.value.text));
            break;
        case Key::exec:
            rule.exec = std::string(e.value.text);
            break;
        case Key::execTimeout:
            rule.execTimeoutSeconds = value(e, parseDuration(e.value.text));
            if (rule.execTimeoutSeconds <= 0 ||
                rule.execTimeoutSeconds > longestExecTimeoutSeconds) {
                fail(e.value, "'exec-timeout' is from 1s to 5m");
            }
            break;
        case Key::shippedRules:
            break;
        }
    }
    if (!test) {
        fail(name, "rule '" + rule.name + "' has no test: set above, below or alarm");
    }
    if (hysteresis && rule.test == AlertRule::Test::alarm) {
        fail(hysteresis->key, "'hysteresis' needs 'above' or 'below'");
    }
    if (chipRising && rule.chipRising && !rule.chipAbove) {
        fail(chipRising->key, "'chip-rising' needs 'chip-above'");
    }
    return rule;
}

// A rule of the user's that sets no test and is named almost like a shipped one was meant to
// change that one.
void suggestShipped(const Section& section, const Document& shipped) {
    for (const auto& info : keys) {
        if (info.test && find(&section.entries, info.word)) {
            return;
        }
    }
    std::vector<std::string_view> names;
    for (const auto& candidate : shipped.sections) {
        names.push_back(candidate.name.text);
    }
    if (const auto nearest = nearestWord(section.name.text, names)) {
        fail(section.name, "rule '" + std::string(section.name.text) +
                               "' has no test (did you mean the shipped rule '" +
                               std::string(*nearest) + "'?)");
    }
}

AlertRules buildRules(const Document& user, const Document& shipped) {
    bool useShipped = true;
    if (const Entry* entry = find(&user.globals, "shipped-rules")) {
        useShipped = value(*entry, parseYesNo(entry->value.text));
    }
    const auto userSection = [&](std::string_view name) -> const Section* {
        for (const auto& section : user.sections) {
            if (section.name.text == name) {
                return &section;
            }
        }
        return nullptr;
    };
    AlertRules rules;
    if (useShipped) {
        for (const auto& section : shipped.sections) {
            const Section* own = userSection(section.name.text);
            rules.rules.push_back(buildRule(own ? own->name : section.name,
                                            own ? &own->entries : nullptr, &section.entries,
                                            user.globals));
        }
    }
    for (const auto& section : user.sections) {
        const bool replaces =
            useShipped &&
            std::any_of(shipped.sections.begin(), shipped.sections.end(),
                        [&](const Section& s) { return s.name.text == section.name.text; });
        if (!replaces) {
            suggestShipped(section, shipped);
            rules.rules.push_back(buildRule(section.name, &section.entries, nullptr, user.globals));
        }
    }
    return rules;
}

} // namespace

std::string ParsedRules::problemText(std::string_view file) const {
    return std::string(file) + ":" + std::to_string(problem.line) + ":" +
           std::to_string(problem.column) + ": " + problem.message;
}

ParsedRules parseRuleFile(std::string_view text, std::string_view shipped) {
    ParsedRules parsed;
    try {
        if (text.size() > mostRuleFileBytes) {
            fail(1, 1, "larger than " + std::to_string(mostRuleFileBytes / 1024) + " KiB");
        }
        parsed.rules = buildRules(lex(text), lex(shipped));
    } catch (const Failure& failure) {
        parsed.problem = failure.problem;
    }
    return parsed;
}

ParsedRules parseRuleFile(std::string_view text) {
    return parseRuleFile(text, shippedRuleText());
}

LoadedRules loadRuleFile(const std::filesystem::path& file) {
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return {parseRuleFile("").rules, {}};
    }
    if (status.type() != std::filesystem::file_type::regular) {
        return {std::nullopt, file.string() + ": not a file"};
    }
    std::ifstream stream(file, std::ios::binary);
    std::string text(mostRuleFileBytes + 1, '\0');
    stream.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!stream && !stream.eof()) {
        return {std::nullopt, file.string() + ": cannot be read"};
    }
    text.resize(static_cast<std::size_t>(stream.gcount()));
    const auto parsed = parseRuleFile(text);
    if (!parsed.rules) {
        return {std::nullopt, parsed.problemText(file.string())};
    }
    return {parsed.rules, {}};
}

std::filesystem::path ruleFilePath() {
    std::filesystem::path folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
        folder = config;
    } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        folder = std::filesystem::path(home) / ".config";
    } else {
        return {};
    }
    return folder / "brivane-sensors" / "alerts.conf";
}

} // namespace brivane::cli
