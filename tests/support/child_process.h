#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brivane::testing {

// A child spawned from PATH with exactly `environment`, stdin /dev/null and stdout to outputFile;
// destruction ends it (SIGTERM, SIGKILL two seconds later) and reaps it.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& outputFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool running();
    // The exit status (128 + signal when killed), or nullopt while it still runs at the limit.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    void kill(int signal);
    std::optional<std::size_t> openDescriptors() const; // counted in /proc/<pid>/fd

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct CommandResult {
    int status = -1; // also when it could not start or was killed at the limit
    std::string output;
};

// Runs argv to its end, killed at limit; its stdout goes through scratchFile.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment,
                         const std::string& scratchFile,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

// The whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

// PATH=<this process's PATH>, for children that look their tools up there.
std::vector<std::string> pathEnvironment();

// Asks `done` every 20 ms until it holds (true) or the limit passes (false).
bool pollUntil(std::chrono::milliseconds limit, const std::function<bool()>& done);

} // namespace brivane::testing
