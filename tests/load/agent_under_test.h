#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brivane::testing {

// The agent executable inside a bundle, started with "--agent" and its own runtime directory;
// terminated when destroyed.
class AgentUnderTest {
public:
    AgentUnderTest(const std::string& bundle, const std::string& runtimeDirectory);
    ~AgentUnderTest();

    bool started() const { return pid_ > 0; }
    bool alive() const;
    std::optional<std::size_t> openDescriptors() const;

private:
    pid_t pid_ = -1;
};

// Runs argv and returns its exit status (-1 when it could not run or was killed).
int runProgram(const std::vector<std::string>& argv);

// Copies what the test needs into a world-readable directory, so an unprivileged user can run
// it; returns that directory.
std::string stageForUnprivilegedRun(const std::string& bundle, const std::string& executable);

} // namespace brivane::testing
