#include "agent_process.h"

#include "ipc/sensor_client.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace brivane::bench {

AgentProcess::AgentProcess(const std::string& executable,
                           const std::vector<std::string>& environment) {
    std::vector<std::string> variables = environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        const auto name = variable.substr(0, variable.find('=') + 1);
        bool overridden = false;
        for (const auto& mine : environment) {
            overridden = overridden || mine.rfind(name, 0) == 0;
        }
        if (!overridden) {
            variables.push_back(variable);
        }
    }
    std::vector<char*> envp;
    for (auto& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::string program = executable;
    std::string role = "--agent";
    char* argv[] = {program.data(), role.data(), nullptr};
    if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
        pid_ = -1;
    }
}

AgentProcess::~AgentProcess() {
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

bool AgentProcess::alive() const {
    return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

std::optional<long> AgentProcess::residentKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> AgentProcess::openDescriptors() const {
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

bool waitForEndpoint(const std::string& path, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string problem;
        if (ipc::SensorClient::connect(path, problem)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace brivane::bench
