#include "export_handover.h"

#include "sensors-common/cli_options.h"
#include "terminal_text.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace brivane::cli {

int handOverToExporter(char** argv) {
    std::error_code error;
    // The installed command is a link; the exporter lies beside what it points to.
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    const auto exporter = self.parent_path() / "brivane-sensors-export";
    if (!error) {
        ::execv(exporter.c_str(), argv);
    }
    printProblem("cannot start " + exporter.string() + ": " +
                 (error ? error.message() : std::strerror(errno)));
    return unreachable;
}

} // namespace brivane::cli
