#pragma once

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace brivane::testing {

// An agent installed for one test in a fresh TempDir, opened to the agent's user:
//   <root>/app                      the bundle (copied, or made around `agent` and `team`)
//   <root>/<name>, <root>/<name>.sig each of `executables`, with its signature when it has one
//   <root>/home, <root>/run         0700; HOME and XDG_RUNTIME_DIR of agent and clients
// Agents and run() act as "nobody" when root, with HOME, XDG_RUNTIME_DIR, PATH and `environment`
// only. The constructor throws when it cannot stage; destruction stops the agents it started.
class StagedAgent {
public:
    struct Options {
        std::string bundle{};
        std::string agent{};
        std::string team{};
        std::vector<std::string> executables{};
        std::vector<std::string> environment{}; // extra "NAME=value"
        // Agents see sysTree() as /sys (root only), and its file ".proc-stat", when it has one,
        // as /proc/stat (rewrite it in place), and its .proc/<pid>/fd and fdinfo folders as
        // those of process <pid>; fill it before launching, which opens it up.
        bool bindSys = false;
    };

    explicit StagedAgent(const Options& options);

    static bool isRoot();
    // Empty when a fixture can be bound over /sys here, else why not.
    static std::string mountNamespaceProblem();

    std::string path(const std::string& name) const { return (root_ / name).string(); }
    // What the agent sees as /sys, to fill with TempDir's file-tree helpers; only with `bindSys`.
    const TempDir& sysTree() const { return *sysTree_; }
    std::string agentExecutable() const {
        return path("app/Contents/MacOS/brivane-sensor-companion");
    }
    const std::string& endpoint() const { return endpoint_; } // from the bundle's team
    uid_t uid() const { return uid_; }
    std::vector<std::string> environment() const;
    std::vector<std::string> asAgentUser(std::vector<std::string> argv) const;
    std::string scratch(); // a fresh output file in the stage

    // Starts "<agent> --agent"; it lives until this object dies at the latest.
    ChildProcess& launchAgent();
    // Starts argv as the agent's user, seeing what the agent sees; lives as long as an agent.
    ChildProcess& launch(const std::vector<std::string>& argv);
    // Launches one and waits until the endpoint accepts connections; nullptr if it ended or
    // did not listen in time.
    ChildProcess* startAgent(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // argv as the agent's user, with the staged environment.
    CommandResult run(const std::vector<std::string>& argv,
                      std::chrono::milliseconds limit = std::chrono::seconds(30));
    // argv as the agent's user, seeing the machine the agent sees (the fixture /sys).
    CommandResult runOnMachine(std::vector<std::string> argv);
    // The staged "brivane-sensors" against endpoint(), on the agent's machine.
    CommandResult cli(std::vector<std::string> arguments);

private:
    TempDir folder_{"brivane-stage"}; // destroyed last: agents end before it goes
    std::optional<TempDir> sysTree_;
    std::filesystem::path root_;
    std::string endpoint_;
    std::vector<std::string> extraEnvironment_;
    uid_t uid_;
    gid_t gid_;
    int outputs_ = 0;
    std::vector<std::unique_ptr<ChildProcess>> agents_;
};

// Waits until something accepts connections at path; gives up early when `server` ends.
bool waitForEndpoint(const std::string& path, std::chrono::milliseconds limit,
                     ChildProcess* server = nullptr);

} // namespace brivane::testing
