#include "history/alerts/alert_evaluator.h"
#include "history/alerts/rule_file.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

using Change = AlertTransition::Change;

AlertRules rules(const std::string& text) {
    const auto parsed = parseRuleFile("shipped-rules = no\n" + text);
    EXPECT_TRUE(parsed.rules) << parsed.problemText("rules");
    return parsed.rules.value_or(AlertRules{});
}

AlertReading temperature(std::string name, std::optional<double> value,
                         std::optional<double> crit = std::nullopt) {
    AlertReading reading;
    reading.name = std::move(name);
    reading.kind = "temperature";
    reading.unit = "celsius";
    reading.value = value;
    reading.chip = reading.name.substr(0, reading.name.find('/'));
    reading.limits[static_cast<std::size_t>(AlertLimit::crit)] = crit;
    return reading;
}

AlertFrame frame(double time, std::vector<AlertReading> readings) {
    return {time, true, std::move(readings)};
}

// The changes a series of frames 10 s apart brings, as "<time> firing|recovered".
std::vector<std::string> run(AlertEvaluator& evaluator,
                             const std::vector<std::vector<AlertReading>>& frames,
                             double start = 0) {
    std::vector<std::string> changes;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (const auto& event : evaluator.evaluate(frame(start + 10.0 * i, frames[i]))) {
            changes.push_back(std::to_string(static_cast<int>(event.time)) +
                              (event.change == Change::firing ? " firing" : " recovered"));
        }
    }
    return changes;
}

const char* nearCrit = "[near]\nkind = temperature\nabove = crit - 5 or 90\nhysteresis = 3\n"
                       "for = 20s\nclear-for = 20s\n";

TEST(AlertEvaluator, FiresAfterForOnceWhileDancingAroundTheLimitAndRecoversAfterClearFor) {
    AlertEvaluator evaluator(rules(nearCrit));
    std::vector<std::vector<AlertReading>> frames;
    // crit 100: fires above 95, recovers at 92 or below.
    for (const double value : {96.0, 97.0, 96.0, 94.0, 96.0, 93.5, 95.5, 92.0, 91.0, 90.0, 96.0}) {
        frames.push_back({temperature("k10temp/Tctl", value, 100)});
    }
    EXPECT_EQ(run(evaluator, frames), (std::vector<std::string>{"20 firing", "90 recovered"}));

    // A dip below the threshold restarts the `for`.
    AlertEvaluator restarted(rules(nearCrit));
    frames.clear();
    for (const double value : {96.0, 96.0, 94.0, 96.0, 96.0, 96.0}) {
        frames.push_back({temperature("k10temp/Tctl", value, 100)});
    }
    EXPECT_EQ(run(restarted, frames), (std::vector<std::string>{"50 firing"}));
}

TEST(AlertEvaluator, ThresholdsFallBackAndReadingsWithoutTheirLimitsAreUntested) {
    AlertEvaluator evaluator(rules(nearCrit + std::string("[battery]\nkind = battery\n"
                                                          "below = 0.1\n[crit-only]\n"
                                                          "above = crit\n")));
    evaluator.evaluate(
        frame(0, {temperature("nvme/Composite", 91), temperature("drivetemp/temp1", 57, 60)}));
    evaluator.evaluate(
        frame(30, {temperature("nvme/Composite", 91), temperature("drivetemp/temp1", 57, 60)}));
    const auto firing = evaluator.firing();
    ASSERT_EQ(firing.size(), 2u);
    EXPECT_EQ(firing[0].reading, "drivetemp/temp1");
    EXPECT_EQ(firing[0].threshold, 55);
    EXPECT_EQ(firing[1].threshold, 90);
    // No battery on this machine; crit-only had its crit on one reading.
    EXPECT_EQ(evaluator.unmatchedRules(), std::vector<std::string>{"battery"});
}

TEST(AlertEvaluator, GapsSuspendsAndGoneReadings) {
    AlertEvaluator evaluator(rules(nearCrit));
    // A reading without a value restarts a pending condition.
    EXPECT_EQ(run(evaluator, {{temperature("a/t", 96, 100)},
                              {temperature("a/t", 96, 100)},
                              {temperature("a/t", std::nullopt, 100)},
                              {temperature("a/t", 96, 100)},
                              {temperature("a/t", 96, 100)},
                              {temperature("a/t", 96, 100)},
                              // firing from 50: a gap keeps it, whatever follows in the band
                              {temperature("a/t", std::nullopt, 100)},
                              {temperature("a/t", 93, 100)}}),
              std::vector<std::string>{"50 firing"});
    // A suspend: the frames before and after it are not one stretch of time.
    EXPECT_TRUE(evaluator.evaluate(frame(2000, {temperature("a/t", 90, 100)})).empty());
    EXPECT_EQ(evaluator.evaluate(frame(2020, {temperature("a/t", 90, 100)})).size(), 1u);

    // A firing alert whose reading is no longer reported recovers as gone, unless the agent is
    // the one not answering.
    AlertEvaluator unplugged(rules(nearCrit));
    unplugged.evaluate(frame(0, {temperature("usb/t", 99, 100)}));
    unplugged.evaluate(frame(20, {temperature("usb/t", 99, 100)}));
    const int after = static_cast<int>(AlertEvaluator::goneAfter);
    for (int t = 30; t <= after; t += 30) {
        EXPECT_TRUE(unplugged.evaluate({static_cast<double>(t), false, {}}).empty());
    }
    for (int t = after + 30; t < 2 * after; t += 30) {
        EXPECT_TRUE(unplugged.evaluate(frame(t, {})).empty());
    }
    const auto gone = unplugged.evaluate(frame(2 * after, {}));
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].cause, AlertTransition::Cause::readingGone);
}

TEST(AlertEvaluator, RestoredAlertsFireNoSecondTimeAndRecoverWhenTheirRuleGoes) {
    AlertEvaluator first(rules(nearCrit));
    run(first, {{temperature("a/t", 99, 100)},
                {temperature("a/t", 99, 100)},
                {temperature("a/t", 99, 100)}});
    const auto firing = first.firing();
    ASSERT_EQ(firing.size(), 1u);

    AlertEvaluator second(rules(nearCrit));
    second.restore(firing);
    EXPECT_TRUE(run(second,
                    {{temperature("a/t", 99, 100)},
                     {temperature("a/t", 99, 100)},
                     {temperature("a/t", 99, 100)}},
                    100)
                    .empty());
    second.setRules(rules("[other]\nabove = 1\n"));
    const auto events = second.evaluate(frame(200, {temperature("a/t", 99, 100)}));
    ASSERT_EQ(events.size(), 2u); // other fires, near recovers
    EXPECT_EQ(events[1].rule, "near");
    EXPECT_EQ(events[1].cause, AlertTransition::Cause::ruleOff);
}

TEST(AlertEvaluator, FanStoppedFiresOnlyWhileItsChipIsHotAndHeating) {
    AlertEvaluator evaluator(rules("[fan]\nkind = fan\nbelow = 1\nchip-above = 60\n"
                                   "chip-rising = yes\nfor = 20s\n"));
    const auto fan = [](double rpm) {
        AlertReading reading;
        reading.name = "thinkpad fan1";
        reading.kind = "fan";
        reading.value = rpm;
        reading.chip = "thinkpad";
        return reading;
    };
    // Hot but not heating, then heating, on the fan's chip; another chip's heat does not count.
    EXPECT_EQ(run(evaluator, {{fan(0), temperature("thinkpad/CPU", 70)},
                              {fan(0), temperature("thinkpad/CPU", 70)},
                              {fan(0), temperature("thinkpad/CPU", 70)},
                              {fan(0), temperature("thinkpad/CPU", 50), temperature("x/y", 90)},
                              {fan(0), temperature("thinkpad/CPU", 65)},
                              {fan(0), temperature("thinkpad/CPU", 66)},
                              {fan(0), temperature("thinkpad/CPU", 68)},
                              {fan(2000), temperature("thinkpad/CPU", 68)}}),
              (std::vector<std::string>{"60 firing", "70 recovered"}));
}

TEST(AlertEvaluator, TheShippedDiskRuleFiresOnAFailingVerdictOrACriticalWarningBit) {
    const auto shipped = parseRuleFile("").rules.value();
    const struct {
        std::optional<bool> failing;
        std::optional<std::int64_t> warning;
        bool fires;
    } cases[] = {{false, 0, false},
                 {true, std::nullopt, true},
                 {std::nullopt, 4, true},
                 {false, std::nullopt, false}};
    for (const auto& c : cases) {
        DiskHealth disk{"nvme0n1", {}};
        disk.reading.smartFailing = c.failing;
        disk.reading.criticalWarning = c.warning;
        AlertEvaluator evaluator(shipped);
        const auto events = evaluator.evaluate(frame(0, diskReadings(disk)));
        const bool fired = std::any_of(events.begin(), events.end(), [](const auto& event) {
            return event.rule == "disk-failing" && event.reading == "disk/nvme0n1";
        });
        EXPECT_EQ(fired, c.fires) << c.failing.value_or(false) << " " << c.warning.value_or(-1);
    }
    // A drive under its own spare threshold, and one past 90 % of its rated life for an hour.
    DiskHealth worn{"sda", {}};
    worn.reading.availableSpare = 5;
    worn.reading.spareThreshold = 10;
    worn.reading.life = 4;
    AlertEvaluator evaluator(shipped);
    std::vector<std::string> fired;
    for (int time = 0; time <= 3600; time += 60) {
        for (const auto& event : evaluator.evaluate(frame(time, diskReadings(worn)))) {
            fired.push_back(std::to_string(time) + " " + event.rule + " " + event.reading);
        }
    }
    EXPECT_EQ(fired, (std::vector<std::string>{"0 disk-spare-low disk/sda/spare",
                                               "3600 disk-worn-out disk/sda/life-used"}));
}

} // namespace
} // namespace brivane::cli
