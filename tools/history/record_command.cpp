#include "record_command.h"

#include "recorder.h"
#include "sensors-cli/terminal_text.h"

#include <algorithm>

namespace brivane::cli {

int runRecorder(const CliOptions& options, const std::vector<SnapshotObserver*>& observers) {
    std::string problem;
    const auto files = historyFiles(problem);
    if (!files) {
        printProblem("record: " + problem);
        return unreachable;
    }
    RecorderSetup setup;
    setup.files = *files;
    setup.intervalMs = options.intervalMs.value_or(defaultRecordIntervalMs);
    // An answer later than the next sample is no use; the default leaves a second to store it.
    CliOptions asking = options;
    if (asking.timeoutMs == CliOptions{}.timeoutMs) {
        asking.timeoutMs = static_cast<int>(
            std::clamp<std::int64_t>(setup.intervalMs - 1000, 1000, asking.timeoutMs));
    }
    AgentSnapshots agent{AgentConnection(asking)};
    SystemRecorderClock clock;
    Recorder recorder(
        std::move(setup), [&agent] { return agent.fetch(); }, clock, observers);
    bool heldByAnother = false;
    if (!recorder.start(heldByAnother)) {
        return heldByAnother ? recorderRunning : unreachable;
    }
    recorder.run();
    return answered;
}

} // namespace brivane::cli
