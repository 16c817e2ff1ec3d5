// brivane-sensors-record: `brivane-sensors record`, `history` and `alerts`, in an executable of
// its own so that the client's other requests load no database (and the alerts' desktop
// notifications no D-Bus).

#include "alerts/alert_observer.h"
#include "alerts/alerts_command.h"
#include "alerts/rule_file.h"
#include "history_command.h"
#include "record_command.h"
#include "recorder.h"
#include "sensors-cli/terminal_text.h"
#include "sensors-common/cli_options.h"
#include "sensors-common/disk_health.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace brivane::cli;

int record(const CliOptions& options) {
    // Made at the first sample, on the recorder's thread once it blocked its stop and reload
    // signals, so that the watch's own thread takes none of them.
    std::unique_ptr<DiskHealthWatch> diskWatch;
    const auto disks = [&] {
        if (!diskWatch) {
            diskWatch = std::make_unique<DiskHealthWatch>(AgentConnection(options));
        }
        return diskWatch->latest();
    };
    auto notifier = makeDesktopNotifier();
    AlertCommandRunner commands(commandLauncher(), [](const std::string& line) {
        writeJournalLine(line, AlertSeverity::warning);
    });
    AlertObserver alerts(ruleFilePath(), {nullptr, notifier.get(), &commands, &writeJournalLine},
                         options.intervalMs.value_or(defaultRecordIntervalMs), disks);
    return runRecorder(options, {&alerts});
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = parseCommandLine(arguments, BRIVANE_TEAM_ID);
    if (!parsed.options) {
        printProblem(parsed.error + "; see brivane-sensors --help");
        return usage;
    }
    switch (parsed.options->action) {
    case CliOptions::Action::record:
        return record(*parsed.options);
    case CliOptions::Action::history:
        return runHistory(*parsed.options);
    case CliOptions::Action::alerts:
        return runAlerts(*parsed.options);
    default:
        printProblem("brivane-sensors-record runs as brivane-sensors record, history or alerts");
        return usage;
    }
}
