#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brivane::bench {

// An agent started for measuring: its own environment, ended with SIGTERM (then SIGKILL) when
// destroyed.
class AgentProcess {
public:
    AgentProcess(const std::string& executable, const std::vector<std::string>& environment);
    ~AgentProcess();

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool alive() const;

    // Resident set size in KiB from /proc/<pid>/status.
    std::optional<long> residentKiB() const;
    // Open descriptors of the agent.
    std::optional<std::size_t> openDescriptors() const;

private:
    pid_t pid_ = -1;
};

// Waits until something accepts connections at path.
bool waitForEndpoint(const std::string& path, int timeoutMs);

} // namespace brivane::bench
