#include "history/alerts/rule_file.h"

#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

const AlertRule* ruleNamed(const AlertRules& rules, std::string_view name) {
    for (const auto& rule : rules.rules) {
        if (rule.name == name) {
            return &rule;
        }
    }
    return nullptr;
}

TEST(RuleFile, RefusesMalformedFilesWithLineAndColumn) {
    struct Case {
        const char* text;
        std::size_t line;
        std::size_t column;
        const char* message; // a part of it
    };
    const Case cases[] = {
        {"[gpu\nabove = 90\n", 1, 5, "expected ']'"},
        {"[gpu] x\n", 1, 6, "unexpected text after ']'"},
        {"[]\n", 1, 2, "expected a rule's name"},
        {"[gpu hot]\n", 1, 5, "letters, digits"},
        {"[a]\nabove = 1\n[a]\nabove = 2\n", 3, 2, "already defined on line 1"},
        {"[gpu]\nabvoe = 90\n", 2, 1, "did you mean 'above'?"},
        {"[gpu]\nhello\n", 2, 1, "expected '[rule]' or 'key = value'"},
        {"[gpu]\nabove 90\n", 2, 6, "expected '=' after 'above'"},
        {"[gpu]\nabove\n", 2, 6, "expected '=' after 'above'"},
        {"enabled = no\n", 1, 1, "belongs in a rule"},
        {"[gpu]\nabove = 1\nshipped-rules = no\n", 3, 1, "belongs before the first rule"},
        {"[gpu]\nabove = 1\nabove = 2\n", 3, 1, "already set on line 2"},
        {"[gpu]\nabove = crti - 5\n", 2, 9, "did you mean 'crit'?"},
        {"[gpu]\nabove = crit -\n", 2, 15, "expected a number after '-'"},
        {"[gpu]\nabove = crit - 5 90\n", 2, 18, "expected 'or'"},
        {"[gpu]\nabove = crit or\n", 2, 16, "expected a number or a limit"},
        {"[gpu]\nabove = 90 °C\n", 2, 12, "expected 'or'"},
        {"[gpu]\nabove = 1\nfor = 2 m\n", 3, 8, "a unit must follow"},
        {"[gpu]\nabove = 1\nfor = 2m  # two minutes\n", 3, 11, "comment takes a line"},
        {"[gpu]\nabove = 1\nfor = 8d\n", 3, 7, "longer than a week"},
        {"[gpu]\nabove = 1\nhysteresis = -2\n", 3, 14, "cannot be negative"},
        {"[gpu]\nabove = 1\nenabled = maybe\n", 3, 11, "unknown answer 'maybe'"},
        {"[gpu]\nabove = 1\nseverity = urgent\n", 3, 12, "unknown severity"},
        {"[gpu]\nkind = temprature\nabove = 1\n", 2, 8, "did you mean 'temperature'?"},
        {"[gpu]\nkind = fan !\nabove = 1\n", 2, 12, "expected a word after '!'"},
        {"[gpu]\nalarm = lcrit hot\n", 2, 15, "unknown flag 'hot'"},
        {"[gpu]\nabove = 1\nbelow = 2\n", 3, 1, "one test; 'above' is set on line 2"},
        {"[gpu]\nalarm = any\nhysteresis = 2\n", 3, 1, "needs 'above' or 'below'"},
        {"[gpu]\nbelow = 1\nchip-rising = yes\n", 3, 1, "needs 'chip-above'"},
        {"[gpu]\nfor = 1m\n", 1, 2, "has no test"},
        {"[chasis-intrusion]\nenabled = yes\n", 1, 2, "did you mean the shipped rule"},
        {"[gpu]\nabove = 1\nexec-timeout = 10m\n", 3, 16, "from 1s to 5m"},
        // Columns count characters, not bytes; control characters and broken UTF-8 are refused
        // where they stand.
        {"[gpu]\nsummary = Überhitzt\x1b\nabove = 1\n", 2, 20, "control character"},
        {"[gpu]\nsummary = a\x1b]0;x\x07\nabove = 1\n", 2, 12, "control character"},
        {"[gpu]\nsummary = caf\xc3\nabove = 1\n", 2, 14, "not UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseRuleFile(c.text);
        ASSERT_FALSE(parsed.rules);
        EXPECT_EQ(parsed.problem.line, c.line);
        EXPECT_EQ(parsed.problem.column, c.column);
        EXPECT_NE(parsed.problem.message.find(c.message), std::string::npos)
            << parsed.problem.message;
    }
    EXPECT_EQ(parseRuleFile(std::string(mostRuleFileBytes + 1, '#')).problem.message,
              "larger than 64 KiB");
}

TEST(RuleFile, ShippedRulesMirrorThePackagedPrometheusRules) {
    const auto parsed = parseRuleFile("");
    ASSERT_TRUE(parsed.rules) << parsed.problemText("shipped");
    const auto& rules = *parsed.rules;
    const auto* near = ruleNamed(rules, "temperature-near-crit");
    ASSERT_TRUE(near);
    EXPECT_EQ(near->threshold, (Threshold{{{AlertLimit::crit, -5}, {std::nullopt, 90}}}));
    EXPECT_GT(near->hysteresis, 0);
    EXPECT_EQ(near->forSeconds, 120);
    EXPECT_EQ(near->severity, AlertSeverity::critical);
    const auto* intrusion = ruleNamed(rules, "chassis-intrusion");
    ASSERT_TRUE(intrusion);
    EXPECT_FALSE(intrusion->enabled);
    for (const char* name : {"battery-hot", "under-voltage", "sensor-alarm", "fan-stopped-hot",
                             "disk-failing", "agent-down"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(ruleNamed(rules, name));
        EXPECT_TRUE(ruleNamed(rules, name)->enabled);
    }
}

TEST(RuleFile, UserRulesChangeShippedOnesKeyByKeyOrReplaceThem) {
    const auto parsed = parseRuleFile("exec = logger alert\n"
                                      "[chassis-intrusion]\nenabled = yes\n"
                                      "[temperature-near-crit]\nalarm = crit\nfor = 30s\n"
                                      "[gpu-hot]\nmatch = amdgpu*/junction\nabove = 95\n"
                                      "exec =\n");
    ASSERT_TRUE(parsed.rules) << parsed.problemText("alerts.conf");
    const auto& rules = *parsed.rules;
    EXPECT_TRUE(ruleNamed(rules, "chassis-intrusion")->enabled);
    // A new test replaces the shipped test and its hysteresis; the other keys stay.
    const auto* near = ruleNamed(rules, "temperature-near-crit");
    EXPECT_EQ(near->test, AlertRule::Test::alarm);
    EXPECT_EQ(near->hysteresis, 0);
    EXPECT_EQ(near->forSeconds, 30);
    EXPECT_EQ(near->severity, AlertSeverity::critical);
    EXPECT_EQ(near->exec, "logger alert");
    const auto* gpu = ruleNamed(rules, "gpu-hot");
    EXPECT_EQ(gpu->names.included, std::vector<std::string>{"amdgpu*/junction"});
    EXPECT_EQ(gpu->exec, "");
    EXPECT_EQ(&rules.rules.back(), gpu);

    const auto alone = parseRuleFile("shipped-rules = no\n[agent-down]\nkind = agent\n"
                                     "below = 1\n");
    ASSERT_TRUE(alone.rules);
    ASSERT_EQ(alone.rules->rules.size(), 1u);
    EXPECT_EQ(alone.rules->rules[0].forSeconds, 0);
}

} // namespace
} // namespace brivane::cli
