#include "agent_under_test.h"

#include <chrono>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace brivane::testing {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

} // namespace

AgentUnderTest::AgentUnderTest(const std::string& bundle, const std::string& runtimeDirectory) {
    std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + runtimeDirectory,
                                            "HOME=" + runtimeDirectory};
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        if (variable.rfind("XDG_RUNTIME_DIR=", 0) != 0 && variable.rfind("HOME=", 0) != 0 &&
            variable.rfind("LISTEN_", 0) != 0) {
            environment.push_back(variable);
        }
    }
    std::vector<std::string> argv = {bundle + "/Contents/MacOS/brivane-sensor-companion",
                                     "--agent"};
    auto args = pointers(argv);
    auto envp = pointers(environment);
    if (::posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) {
        pid_ = -1;
    }
}

AgentUnderTest::~AgentUnderTest() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

bool AgentUnderTest::alive() const {
    return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

std::optional<std::size_t> AgentUnderTest::openDescriptors() const {
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid_) + "/fd", error);
    if (error) {
        return std::nullopt;
    }
    std::size_t count = 0;
    for (auto it = entries; it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return count;
}

int runProgram(const std::vector<std::string>& argv) {
    auto copy = argv;
    auto args = pointers(copy);
    pid_t pid;
    if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string stageForUnprivilegedRun(const std::string& bundle, const std::string& executable) {
    namespace fs = std::filesystem;
    std::string stage = (fs::temp_directory_path() / "brivane-load-XXXXXX").string();
    if (!::mkdtemp(stage.data())) {
        return {};
    }
    const auto bundleCopy = fs::path(stage) / fs::path(bundle).filename();
    fs::copy(bundle, bundleCopy, fs::copy_options::recursive);
    fs::copy_file(executable, fs::path(stage) / "load_tests");
    // Admission needs the signature beside the copy.
    const auto signature = fs::canonical(executable).string() + ".sig";
    if (fs::exists(signature)) {
        fs::copy_file(signature, fs::path(stage) / "load_tests.sig");
    }
    for (const auto& entry : fs::recursive_directory_iterator(stage)) {
        fs::permissions(entry.path(),
                        entry.is_directory()
                            ? fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec
                            : fs::perms::group_read | fs::perms::others_read,
                        entry.is_directory() ? fs::perm_options::replace : fs::perm_options::add);
    }
    ::chmod(stage.c_str(), 0755);
    ::chmod((stage + "/load_tests").c_str(), 0755);
    return stage;
}

} // namespace brivane::testing
