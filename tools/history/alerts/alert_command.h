#pragma once

// The `exec` of an alert rule: a shell command with the alert's fields in its environment,
// bounded in time. Under the user's service manager the recorder runs confined, so the command
// goes to that manager as a transient unit of its own (systemd-run --user), which runs it
// outside the confinement (a webhook reaches the network) and ends it at its time limit.
// Started by hand, the recorder runs the command itself and ends its process group at the limit.

#include "backends/posix/system/spawn_tool_runner.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brivane::cli {

struct AlertCommand {
    std::string command; // for /bin/sh -c
    double timeoutSeconds = 10;
    std::vector<std::pair<std::string, std::string>> environment;
};

// How a command is started.
struct CommandLauncher {
    std::string systemdRun; // its path, when the command goes to the service manager
};

// The launcher for this process: systemd-run when the service manager started it
// (INVOCATION_ID set) and systemd-run is installed, else none.
CommandLauncher commandLauncher();

// The tool run for a command: `sh -c` itself, or systemd-run's transient unit with the fields
// as --setenv and a runtime limit (systemd-run itself bounded by a few seconds).
platform::ToolRun commandRun(const AlertCommand& command, const CommandLauncher& launcher);

// Runs commands one at a time on a thread of its own, so a slow one never holds the recorder.
// At most mostWaiting wait; more are dropped and reported. Destruction ends the one running.
class AlertCommandRunner {
public:
    static constexpr std::size_t mostWaiting = 16;

    // `report` gets a line for a command that failed, overran or was dropped, on the runner's
    // thread (or the caller's, for a drop).
    AlertCommandRunner(CommandLauncher launcher, std::function<void(std::string)> report);
    ~AlertCommandRunner();
    AlertCommandRunner(const AlertCommandRunner&) = delete;
    AlertCommandRunner& operator=(const AlertCommandRunner&) = delete;

    void run(AlertCommand command);

    // Waits until every command queued so far has ended (tests).
    void drain();

private:
    void work();

    CommandLauncher launcher_;
    std::function<void(std::string)> report_;
    platform::posix::SpawnToolRunner runner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<AlertCommand> waiting_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace brivane::cli
