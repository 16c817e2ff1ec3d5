// brivane-sensors-record: `brivane-sensors record` and `history`, in an executable of its own so
// that the client's other requests load no database (and the alerts' desktop notifications no
// D-Bus).

#include "history_command.h"
#include "record_command.h"
#include "sensors-cli/terminal_text.h"
#include "sensors-common/cli_options.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace brivane::cli;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = parseCommandLine(arguments, BRIVANE_TEAM_ID);
    if (!parsed.options) {
        printProblem(parsed.error + "; see brivane-sensors --help");
        return usage;
    }
    switch (parsed.options->action) {
    case CliOptions::Action::record:
        return runRecorder(*parsed.options);
    case CliOptions::Action::history:
        return runHistory(*parsed.options);
    default:
        printProblem("brivane-sensors-record runs as brivane-sensors record or history");
        return usage;
    }
}
