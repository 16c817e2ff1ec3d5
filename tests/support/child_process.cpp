#include "support/child_process.h"

#include "backends/posix/system/spawn_setup.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brivane::testing {
namespace {

std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (const auto& text : strings) {
        result.push_back(const_cast<char*>(text.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment,
                           const std::string& outputFile) {
    platform::posix::SpawnFileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    auto args = pointers(argv);
    auto envp = pointers(environment);
    if (argv.empty() ||
        posix_spawnp(&pid_, args[0], actions.get(), nullptr, args.data(), envp.data()) != 0) {
        pid_ = -1;
    }
}

ChildProcess::~ChildProcess() {
    kill(SIGTERM);
    if (!waitForExit(std::chrono::seconds(2))) {
        kill(SIGKILL);
        waitForExit(std::chrono::seconds(10));
    }
}

bool ChildProcess::running() {
    int raw = 0;
    if (pid_ > 0 && !status_ && waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    return pid_ > 0 && !status_;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    pollUntil(limit, [&] { return !running(); });
    return status_;
}

void ChildProcess::kill(int signal) {
    if (running()) {
        ::kill(pid_, signal);
    }
}

std::optional<std::size_t> ChildProcess::openDescriptors() const {
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid_) + "/fd", error);
    if (error) {
        return std::nullopt;
    }
    return std::distance(entries, std::filesystem::directory_iterator());
}

CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment,
                         const std::string& scratchFile, std::chrono::milliseconds limit) {
    CommandResult result;
    result.status = ChildProcess(argv, environment, scratchFile).waitForExit(limit).value_or(-1);
    result.output = readFile(scratchFile);
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> pathEnvironment() {
    const char* path = std::getenv("PATH");
    return {std::string("PATH=") + (path ? path : "")};
}

bool pollUntil(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace brivane::testing
