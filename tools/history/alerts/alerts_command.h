#pragma once

// `brivane-sensors alerts`: the alerts firing and those of late (from the history database the
// recorder keeps them in), the rule file's problem if it has one, and the rules this machine
// cannot test (no battery, no disk health, no sensor with the limit a rule names). With --test
// it sends one desktop notification; with --defaults it prints the shipped rules.

#include "sensors-common/cli_options.h"

namespace brivane::cli {

int runAlerts(const CliOptions& options);

} // namespace brivane::cli
