#include "metrics_commands.h"

#include "backends/posix/system/login_name.h"
#include "backends/posix/system/replaced_file.h"
#include "backends/posix/system/unix_endpoints.h"
#include "sensors-common/machine_collection.h"
#include "sensors-common/metrics_text.h"
#include "sensors-common/scrape_families.h"
#include "sensors-common/snapshot_sharing.h"
#include "terminal_text.h"

#include <chrono>
#include <cstdio>

namespace brivane::cli {

int runMetrics(const CliOptions& options) {
    AgentSnapshots agent{AgentConnection(options)};
    agent.countCpus();
    const auto start = std::chrono::steady_clock::now();
    auto fetched = agent.fetch();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    fetched.machineElsewhere = machineCollectedElsewhere();
    // Disks' figures are asked for at most once a minute, kept in the runtime folder between
    // the timer's runs; without one, a textfile goes without them.
    const auto runtime = platform::posix::UnixEndpoints().runtimeDirectory().path;
    if (fetched.snapshot && !fetched.machineElsewhere && runtime) {
        AgentConnection disks(options);
        fetched.disks = std::make_shared<const DiskHealthList>(
            keptDiskHealth(disks, *runtime + "/brivane-sensors-disks"));
    }
    auto families = scrapeFamilies(fetched, took.count());
    if (fetched.loader && fetched.loader->findings.altered()) {
        printProblem(loaderWarning(*fetched.loader));
    }
    // Several users' files share the collector's folder; their series differ by this label.
    labelEverySample(families, "user", platform::posix::loginName());
    const auto text = exposition(families);

    if (options.output) {
        std::string problem;
        if (!writeFileAtomically(*options.output, text, problem)) {
            printProblem("cannot write " + *options.output + ": " + problem);
            return notWritten;
        }
    } else {
        // A write that fails part-way may leave nothing for fflush to report.
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
            std::fflush(stdout) != 0) {
            return notWritten;
        }
    }
    if (fetched.status != answered) {
        printProblem(fetched.problem);
    }
    return fetched.status;
}

bool writeFileAtomically(const std::string& path, std::string_view text, std::string& problem) {
    // Readable by everyone: a collector running under another user must read it. The folder is
    // often shared with other users, and one of them could put a link to a folder of ours at its
    // path.
    if (auto failure =
            platform::posix::replaceFile(path, text, 0644, platform::posix::FolderLink::refused)) {
        problem = std::move(*failure);
        return false;
    }
    return true;
}

} // namespace brivane::cli
