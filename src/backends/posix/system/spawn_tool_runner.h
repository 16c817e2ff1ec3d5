#pragma once

#include "platform/tool_runner.h"

#include <cstddef>
#include <mutex>
#include <set>
#include <sys/types.h>

namespace brivane::platform::posix {

// Runs tools with posix_spawn. Each child gets its own process group, so that ending a run also
// ends whatever the tool started and a grandchild holding the pipe cannot outlast the limit.
// macOS tool paths are first translated through the invocation table; other paths run as given.
class SpawnToolRunner final : public ToolRunner {
public:
    // More standard output than this ends the run as a failure instead of exhausting memory.
    static constexpr std::size_t outputCap = 16u << 20;
    // How long a child may ignore the termination request before it is killed.
    static constexpr double terminationGrace = 0.5;

    ToolResult run(const ToolRun& run) override;
    void stop() override;

    // Runs exactly the given invocation, without translation; `owner`, when given, can stop it.
    static ToolResult spawn(const ToolRun& run, SpawnToolRunner* owner = nullptr);

private:
    friend class RunningChild;
    // False once stopped: the caller ends the child itself.
    bool enter(pid_t group);
    void leave(pid_t group);

    std::mutex mutex_;
    std::set<pid_t> running_; // process groups of unreaped children
    bool stopped_ = false;
};

} // namespace brivane::platform::posix
