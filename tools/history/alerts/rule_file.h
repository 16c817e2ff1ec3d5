#pragma once

// alerts.conf: the user's alert rules over those the package ships (docs/alerts.md).
//
//   # a comment takes a line of its own
//   exec = notify-send-elsewhere        keys before the first rule apply to every rule
//   [gpu-hot]                           a rule: its name, then its keys
//   match = amdgpu*/junction
//   above = crit - 10 or 95
//   for = 1m
//
// A rule named like a shipped one changes only the keys it sets ("[chassis-intrusion]" with
// "enabled = yes" turns that one on); a new name adds a rule. A file that does not parse is
// refused whole with the line and column of its first fault.

#include "alert_rules.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

struct RuleFileProblem {
    std::size_t line = 0;   // from 1
    std::size_t column = 0; // from 1, in characters
    std::string message;

    bool operator==(const RuleFileProblem&) const = default;
};

struct ParsedRules {
    std::optional<AlertRules> rules;
    RuleFileProblem problem; // when there are none

    // "<file>:<line>:<column>: <message>"
    std::string problemText(std::string_view file) const;
};

// The rules of text over those of shipped (the package's own, unless a test gives others).
ParsedRules parseRuleFile(std::string_view text);
ParsedRules parseRuleFile(std::string_view text, std::string_view shipped);

// The rules the package ships, as alerts.conf would write them.
std::string_view shippedRuleText();

// The file's rules; without a file, the shipped ones. A file that cannot be read, is larger
// than mostRuleFileBytes or does not parse gives no rules and the problem's text.
struct LoadedRules {
    std::optional<AlertRules> rules;
    std::string problem;
};
LoadedRules loadRuleFile(const std::filesystem::path& file);

// $XDG_CONFIG_HOME/brivane-sensors/alerts.conf, else ~/.config/brivane-sensors/alerts.conf;
// empty when neither variable names a folder.
std::filesystem::path ruleFilePath();

} // namespace brivane::cli
