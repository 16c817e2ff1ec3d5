#pragma once

// Rules × readings × time → firing and recovery: pure, so a test drives it frame by frame.
//
// A rule's condition must hold on every frame for `for` before the alert fires, and be gone on
// every frame for `clear-for` before it recovers. Between the threshold and the threshold moved
// back by the hysteresis the condition is neither: a firing alert stays firing, so a value
// dancing around a limit fires once. A reading without a value this time (a gap) restarts a
// pending condition and leaves a firing alert as it is; one no longer reported for goneAfter
// recovers as gone. Frames further apart than maxGap (a suspend, a stopped recorder) restart
// every pending condition and clearing countdown: nothing was seen in between.

#include "alert_readings.h"
#include "alert_rules.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brivane::cli {

struct AlertTransition {
    enum class Change { firing, recovered };
    Change change = Change::firing;
    std::string rule;
    std::string reading;
    std::string kind;
    std::string unit;
    std::optional<double> value;     // the reading's at the event
    std::optional<double> threshold; // of an above or below rule, when it fired
    std::uint32_t raised = 0;        // an alarm rule's flags raised when it fired
    AlertSeverity severity = AlertSeverity::warning;
    std::string summary; // the rule's own, if any
    double since = 0;    // when the episode began
    double time = 0;     // of this event
    // Why an alert recovered: its condition is gone, or nothing says so: its reading is no
    // longer reported, or its rule was removed or turned off.
    enum class Cause { condition, readingGone, ruleOff };
    Cause cause = Cause::condition;

    bool operator==(const AlertTransition&) const = default;
};

// An alert firing, as kept across restarts.
struct FiringAlert {
    std::string rule;
    std::string reading;
    double since = 0;
    std::optional<double> threshold;
    std::uint32_t raised = 0;

    bool operator==(const FiringAlert&) const = default;
};

class AlertEvaluator {
public:
    static constexpr double defaultMaxGap = 60;

    explicit AlertEvaluator(AlertRules rules, double maxGap = defaultMaxGap);

    // Alerts a previous run left firing: they fire no second time. Call before the first frame.
    void restore(const std::vector<FiringAlert>& firing);

    // New rules: alerts of rules that stay keep their state, those of rules gone or turned off
    // recover with the next frame.
    void setRules(AlertRules rules);
    const AlertRules& rules() const { return rules_; }

    std::vector<AlertTransition> evaluate(const AlertFrame& frame);

    std::vector<FiringAlert> firing() const;

    // Enabled rules that no reading of the last frame could be tested against (no battery, no
    // disk health, no limit of the kind the threshold names).
    const std::vector<std::string>& unmatchedRules() const { return unmatched_; }

    // How long a reading of a firing alert may stay unreported before it recovers as gone.
    static constexpr double goneAfter = 600;

private:
    struct Instance {
        bool firing = false;
        double conditionSince = 0;
        std::optional<double> clearSince;
        double lastSeen = 0;
        std::optional<double> startHottest; // of the reading's chip, when chip-rising
        std::optional<double> threshold;
        std::uint32_t raised = 0;
        double since = 0; // fired
        std::optional<double> lastValue;
        std::string kind;
        std::string unit;
    };
    using Key = std::pair<std::string, std::string>; // rule, reading

    AlertTransition event(AlertTransition::Change change, const AlertRule* rule, const Key& key,
                          const Instance& instance, double time) const;

    AlertRules rules_;
    double maxGap_;
    std::map<Key, Instance> instances_;
    std::optional<double> lastFrame_;
    std::vector<std::string> unmatched_;
};

} // namespace brivane::cli
