// brivane-sensors-export: `brivane-sensors export`, in an executable of its own so that the
// client's other requests load no HTTP server.

#include "export_command.h"
#include "sensors-common/cli_options.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace brivane::cli;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = parseCommandLine(arguments, BRIVANE_TEAM_ID);
    if (!parsed.options || parsed.options->action != CliOptions::Action::exportMetrics) {
        std::cerr << "brivane-sensors-export: run as brivane-sensors export [options]\n";
        return usage;
    }
    return runExport(*parsed.options);
}
