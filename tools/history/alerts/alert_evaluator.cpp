#include "alert_evaluator.h"

#include <algorithm>
#include <fnmatch.h>
#include <set>
#include <unordered_map>

namespace brivane::cli {
namespace {

enum class Verdict { holds, clear, neither, untestable };

bool globMatches(const std::string& pattern, const std::string& name) {
    return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

template <typename Match> bool passes(const WordFilter& filter, Match match) {
    const auto any = [&](const std::vector<std::string>& words) {
        return std::any_of(words.begin(), words.end(), match);
    };
    return (filter.included.empty() || any(filter.included)) && !any(filter.excluded);
}

bool applies(const AlertRule& rule, const AlertReading& reading) {
    return passes(rule.kinds, [&](const std::string& word) { return word == reading.kind; }) &&
           passes(rule.names,
                  [&](const std::string& pattern) { return globMatches(pattern, reading.name); });
}

std::optional<double> thresholdOf(const Threshold& threshold, const AlertReading& reading) {
    for (const auto& term : threshold.alternatives) {
        if (!term.limit) {
            return term.offset;
        }
        if (const auto limit = reading.limits[static_cast<std::size_t>(*term.limit)]) {
            return *limit + term.offset;
        }
    }
    return std::nullopt;
}

// The hottest temperature of each chip, and of the machine under the empty name.
std::unordered_map<std::string, double> hottestByChip(const std::vector<AlertReading>& readings) {
    std::unordered_map<std::string, double> hottest;
    for (const auto& reading : readings) {
        if (reading.kind != "temperature" || !reading.value) {
            continue;
        }
        for (const auto& chip : {reading.chip, std::string()}) {
            const auto [at, added] = hottest.emplace(chip, *reading.value);
            if (!added) {
                at->second = std::max(at->second, *reading.value);
            }
        }
    }
    return hottest;
}

} // namespace

AlertEvaluator::AlertEvaluator(AlertRules rules, double maxGap)
    : rules_(std::move(rules)), maxGap_(maxGap) {}

void AlertEvaluator::restore(const std::vector<FiringAlert>& firing) {
    for (const auto& alert : firing) {
        Instance instance;
        instance.firing = true;
        instance.since = alert.since;
        instance.conditionSince = alert.since;
        instance.threshold = alert.threshold;
        instance.raised = alert.raised;
        instance.lastSeen = -1; // the first frame's time
        instances_[{alert.rule, alert.reading}] = instance;
    }
}

void AlertEvaluator::setRules(AlertRules rules) {
    rules_ = std::move(rules);
}

std::vector<AlertTransition> AlertEvaluator::evaluate(const AlertFrame& frame) {
    const double now = frame.time;
    std::vector<AlertTransition> events;
    const bool gap = lastFrame_ && now - *lastFrame_ > maxGap_;
    lastFrame_ = now;
    for (auto& [key, instance] : instances_) {
        // While the agent does not answer, no reading can be seen: none is gone.
        if (instance.lastSeen < 0 || gap || !frame.agentAnswered) {
            instance.lastSeen = now;
        }
        if (gap) {
            instance.conditionSince = instance.firing ? instance.conditionSince : now;
            instance.clearSince.reset();
        }
    }

    const auto hottest = hottestByChip(frame.readings);
    const auto hottestFor = [&](const AlertReading& reading) -> std::optional<double> {
        auto found = hottest.find(reading.chip);
        if (found == hottest.end()) {
            found = hottest.find(std::string());
        }
        return found == hottest.end() ? std::nullopt : std::optional(found->second);
    };

    unmatched_.clear();
    std::set<Key> seen;
    for (const auto& rule : rules_.rules) {
        if (!rule.enabled) {
            continue;
        }
        bool matched = false;
        for (const auto& reading : frame.readings) {
            if (!applies(rule, reading)) {
                continue;
            }
            Verdict verdict = Verdict::untestable;
            std::optional<double> threshold;
            if (rule.test == AlertRule::Test::alarm) {
                if ((reading.flags & rule.flags) != 0) {
                    verdict = (reading.raised & rule.flags) != 0 ? Verdict::holds : Verdict::clear;
                }
            } else if ((threshold = thresholdOf(rule.threshold, reading))) {
                if (reading.value) {
                    const double v = *reading.value;
                    const bool above = rule.test == AlertRule::Test::above;
                    const double back =
                        above ? *threshold - rule.hysteresis : *threshold + rule.hysteresis;
                    verdict = (above ? v > *threshold : v < *threshold) ? Verdict::holds
                              : (above ? v <= back : v >= back)         ? Verdict::clear
                                                                        : Verdict::neither;
                }
            }
            if (verdict == Verdict::untestable &&
                (rule.test == AlertRule::Test::alarm || !threshold)) {
                continue; // no such flag, or no limit the threshold names
            }
            matched = true;
            const auto chipHottest = rule.chipAbove ? hottestFor(reading) : std::nullopt;
            if (rule.chipAbove && verdict == Verdict::holds &&
                !(chipHottest && *chipHottest > *rule.chipAbove)) {
                verdict = Verdict::clear;
            }

            const Key key{rule.name, reading.name};
            seen.insert(key);
            const auto found = instances_.find(key);
            if (found == instances_.end()) {
                if (verdict != Verdict::holds) {
                    continue;
                }
                Instance instance;
                instance.conditionSince = now;
                instance.startHottest = chipHottest;
                instances_.emplace(key, instance);
            }
            Instance& instance = instances_[key];
            instance.lastSeen = now;
            instance.lastValue = reading.value;
            instance.kind = reading.kind;
            instance.unit = reading.unit;
            if (!instance.firing) {
                const bool rising = !rule.chipRising || (chipHottest && instance.startHottest &&
                                                         *chipHottest > *instance.startHottest);
                if (verdict != Verdict::holds) {
                    instances_.erase(key);
                } else if (now - instance.conditionSince >= rule.forSeconds &&
                           (rising || rule.forSeconds == 0)) {
                    instance.firing = true;
                    instance.since = now;
                    instance.threshold = threshold;
                    instance.raised = reading.raised & rule.flags;
                    events.push_back(
                        event(AlertTransition::Change::firing, &rule, key, instance, now));
                }
                continue;
            }
            if (verdict != Verdict::clear) {
                instance.clearSince.reset();
                continue;
            }
            if (!instance.clearSince) {
                instance.clearSince = now;
            }
            if (now - *instance.clearSince >= rule.clearForSeconds) {
                events.push_back(
                    event(AlertTransition::Change::recovered, &rule, key, instance, now));
                instances_.erase(key);
            }
        }
        if (!matched) {
            unmatched_.push_back(rule.name);
        }
    }

    // Readings not tested this time: a pending condition restarts; a firing alert waits for its
    // reading, unless its rule is gone or off, or the reading stays away while the agent answers.
    for (auto at = instances_.begin(); at != instances_.end();) {
        const auto& [key, instance] = *at;
        if (seen.count(key) != 0) {
            ++at;
            continue;
        }
        const auto rule =
            std::find_if(rules_.rules.begin(), rules_.rules.end(),
                         [&name = key.first](const AlertRule& r) { return r.name == name; });
        const bool ruleGone = rule == rules_.rules.end() || !rule->enabled;
        const bool readingGone = frame.agentAnswered && now - instance.lastSeen >= goneAfter;
        if (instance.firing && (ruleGone || readingGone)) {
            auto gone = event(AlertTransition::Change::recovered, ruleGone ? nullptr : &*rule, key,
                              instance, now);
            gone.cause =
                ruleGone ? AlertTransition::Cause::ruleOff : AlertTransition::Cause::readingGone;
            gone.value.reset();
            events.push_back(std::move(gone));
        }
        at = instance.firing && !(ruleGone || readingGone) ? std::next(at) : instances_.erase(at);
    }
    return events;
}

AlertTransition AlertEvaluator::event(AlertTransition::Change change, const AlertRule* rule,
                                      const Key& key, const Instance& instance, double time) const {
    AlertTransition event;
    event.change = change;
    event.rule = key.first;
    event.reading = key.second;
    event.kind = instance.kind;
    event.unit = instance.unit;
    event.value = instance.lastValue;
    event.threshold = instance.threshold;
    event.raised = instance.raised;
    if (rule) {
        event.severity = rule->severity;
        event.summary = rule->summary;
    }
    event.since = instance.since;
    event.time = time;
    return event;
}

std::vector<FiringAlert> AlertEvaluator::firing() const {
    std::vector<FiringAlert> firing;
    for (const auto& [key, instance] : instances_) {
        if (instance.firing) {
            firing.push_back(
                {key.first, key.second, instance.since, instance.threshold, instance.raised});
        }
    }
    return firing;
}

} // namespace brivane::cli
