#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brivane::platform {

// How a child's environment is formed from the agent's own.
struct ToolEnvironment {
    enum class Policy { inherit, replace, inheritAndSet };

    Policy policy = Policy::inherit;
    std::vector<std::pair<std::string, std::string>> variables;

    static ToolEnvironment inherited() { return {}; }
    static ToolEnvironment exactly(std::vector<std::pair<std::string, std::string>> vars) {
        return {Policy::replace, std::move(vars)};
    }
    static ToolEnvironment inheritedWith(std::vector<std::pair<std::string, std::string>> vars) {
        return {Policy::inheritAndSet, std::move(vars)};
    }
};

// Quality of service of the queue that carries a run's watchdog.
enum class WatchdogQoS { utility, standard };

// One run of a system tool: absolute path, argument vector (no shell), environment and limit.
struct ToolRun {
    std::string path;
    std::vector<std::string> arguments;
    ToolEnvironment environment;
    double timeLimit = 2.0; // seconds
    WatchdogQoS qos = WatchdogQoS::utility;
};

// Either the tool could not be started (launchError), or it ran and ended with
// terminationStatus, having written output to its standard output. A run ended by its time
// limit, by a signal or for printing more than the output cap reports a non-zero status.
struct ToolResult {
    std::optional<std::string> launchError;
    int terminationStatus = -1;
    std::string output;
    // The child's process id, 0 when none was launched; lets callers leave the tool itself
    // out of what it reports.
    int32_t processIdentifier = 0;

    bool succeeded() const { return !launchError && terminationStatus == 0; }
};

// Runs system tools under the common contract: standard output captured through a pipe to end
// of file before waiting, standard error discarded, standard input and working directory
// inherited, the child ended when its time limit passes. Callers give the macOS path and
// arguments; a back end may map them to a local equivalent.
class ToolRunner {
public:
    virtual ~ToolRunner() = default;
    virtual ToolResult run(const ToolRun& run) = 0;
    // The process is stopping: runs in progress end at once (reporting a non-zero status) and
    // later ones fail to launch.
    virtual void stop() {}
};

// The platform's runner; defined by the back end the executable links.
std::shared_ptr<ToolRunner> makeDefaultToolRunner();

} // namespace brivane::platform
