#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace brivane::e2e {

// A child process started with posix_spawn, its standard output captured to a file. The
// destructor kills and reaps a child that is still running, so no test leaves one behind.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                 const std::string& outputFile);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    bool running();
    // The exit status, or nullopt if the child is still running at the limit. A child killed
    // by a signal reports 128 + the signal number.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    void kill(int signal);

private:
    int pid_ = -1;
    std::optional<int> status_;
};

// Runs a command to its end within limit (killed otherwise) and returns (status, stdout).
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& scratchFile,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

std::string readFile(const std::string& path);

} // namespace brivane::e2e
