#pragma once

// Local alert rules as the recorder evaluates them: plain values, read from alerts.conf
// (rule_file.h) over the rules the package ships.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brivane::cli {

// What a rule may test of a reading: an input's limit words, and the alarm flags with "fault".
enum class AlertLimit : std::uint8_t { min, max, lcrit, crit, emergency, target, cap };
enum class AlertFlag : std::uint8_t { alarm, min, max, lcrit, crit, emergency, cap, fault };
inline constexpr std::size_t alertFlagCount = 8;

// One alternative of a threshold: a number, or a limit of the reading moved by an offset.
struct ThresholdTerm {
    std::optional<AlertLimit> limit; // none: the offset alone is the threshold
    double offset = 0;

    bool operator==(const ThresholdTerm&) const = default;
};

// "crit - 5 or 90": the first alternative the reading has a limit for.
struct Threshold {
    std::vector<ThresholdTerm> alternatives;

    bool operator==(const Threshold&) const = default;
};

// A set of words with exclusions ("temperature !intrusion", "k10temp/* !*/Tctl"): a name
// belongs when it matches an included word (or none is listed) and no excluded one.
struct WordFilter {
    std::vector<std::string> included;
    std::vector<std::string> excluded;

    bool operator==(const WordFilter&) const = default;
};

enum class AlertSeverity : std::uint8_t { info, warning, critical };

struct AlertRule {
    enum class Test : std::uint8_t { above, below, alarm };

    std::string name;
    bool enabled = true;
    WordFilter kinds; // the readings' kind words
    WordFilter names; // glob patterns over the readings' names
    Test test = Test::above;
    Threshold threshold;     // above, below
    std::uint32_t flags = 0; // alarm: bit per AlertFlag
    double hysteresis = 0;   // how far back past the threshold a firing reading must go
    // The hottest temperature of the reading's chip (of the machine where its chip has none)
    // must be above this, and when chipRising, higher than when the condition began.
    std::optional<double> chipAbove;
    bool chipRising = false;
    double forSeconds = 0;      // the condition holds this long before the alert fires
    double clearForSeconds = 0; // and is gone this long before it recovers
    AlertSeverity severity = AlertSeverity::warning;
    std::string summary; // the notification's title; empty: one made from the reading
    bool notify = true;
    std::string exec; // a shell command; empty: none
    double execTimeoutSeconds = 10;

    bool operator==(const AlertRule&) const = default;
};

struct AlertRules {
    std::vector<AlertRule> rules; // enabled or not, in file order after the shipped ones

    bool operator==(const AlertRules&) const = default;
};

// Limits on what a rule file may ask for.
inline constexpr std::size_t mostRuleFileBytes = 64 * 1024;
inline constexpr std::size_t mostAlertRules = 256;
inline constexpr double longestExecTimeoutSeconds = 300;

} // namespace brivane::cli
