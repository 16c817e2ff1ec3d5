#include "export_handover.h"

#include "base/error_text.h"
#include "sensors-common/cli_options.h"
#include "terminal_text.h"

#include <cerrno>
#include <filesystem>
#include <unistd.h>

namespace brivane::cli {

int handOverTo(const char* executable, char** argv) {
    std::error_code error;
    // The installed command is a link; the executable lies beside what it points to.
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    const auto target = self.parent_path() / executable;
    if (!error) {
        ::execv(target.c_str(), argv);
    }
    printProblem("cannot start " + target.string() + ": " +
                 (error ? error.message() : base::errorText(errno)));
    return unreachable;
}

} // namespace brivane::cli
