#include "alert_command.h"

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <unistd.h>

namespace brivane::cli {
namespace {

constexpr const char* shell = "/bin/sh";
// How long systemd-run may take to hand the unit to the manager.
constexpr double handOverSeconds = 5;

std::string wholeSeconds(double seconds) {
    return std::to_string(std::max<long long>(1, std::llround(std::ceil(seconds))));
}

} // namespace

CommandLauncher commandLauncher() {
    const char* invocation = std::getenv("INVOCATION_ID");
    if (!invocation || !*invocation) {
        return {};
    }
    for (const char* path : {"/usr/bin/systemd-run", "/bin/systemd-run"}) {
        if (::access(path, X_OK) == 0) {
            return {path};
        }
    }
    return {};
}

platform::ToolRun commandRun(const AlertCommand& command, const CommandLauncher& launcher) {
    platform::ToolRun run;
    if (launcher.systemdRun.empty()) {
        run.path = shell;
        run.arguments = {"-c", command.command};
        run.environment = platform::ToolEnvironment::inheritedWith(command.environment);
        run.timeLimit = command.timeoutSeconds;
        return run;
    }
    run.path = launcher.systemdRun;
    run.arguments = {"--user", "--quiet", "--collect", "--no-block",
                     "--description=brivane-sensors alert command",
                     // The unit is stopped at its limit, its processes killed soon after.
                     "--property=RuntimeMaxSec=" + wholeSeconds(command.timeoutSeconds),
                     "--property=TimeoutStopSec=2"};
    for (const auto& [name, value] : command.environment) {
        run.arguments.push_back("--setenv=" + name + "=" + value);
    }
    run.arguments.insert(run.arguments.end(), {"--", shell, "-c", command.command});
    run.environment = platform::ToolEnvironment::inherited();
    run.timeLimit = handOverSeconds;
    return run;
}

AlertCommandRunner::AlertCommandRunner(CommandLauncher launcher,
                                       std::function<void(std::string)> report)
    : launcher_(std::move(launcher)), report_(std::move(report)) {
    // The recorder waits for its stop and reload signals on its own thread; one left unblocked
    // here would take them instead, and their default action ends the process.
    sigset_t all{};
    sigset_t previous{};
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &previous);
    worker_ = std::thread([this] { work(); });
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

AlertCommandRunner::~AlertCommandRunner() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    runner_.stop();
    changed_.notify_all();
    worker_.join();
}

void AlertCommandRunner::run(AlertCommand command) {
    {
        std::lock_guard lock(mutex_);
        if (waiting_.size() < mostWaiting) {
            waiting_.push_back(std::move(command));
            changed_.notify_all();
            return;
        }
    }
    report_("alert command not run: " + std::to_string(mostWaiting) +
            " commands are waiting already");
}

void AlertCommandRunner::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.empty() && !busy_; });
}

void AlertCommandRunner::work() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
        if (stopping_) {
            return;
        }
        const AlertCommand command = std::move(waiting_.front());
        waiting_.pop_front();
        busy_ = true;
        lock.unlock();
        const auto run = commandRun(command, launcher_);
        const auto result = platform::posix::SpawnToolRunner::spawn(run, &runner_);
        if (result.launchError) {
            report_("alert command not started: " + *result.launchError);
        } else if (result.terminationStatus != 0) {
            report_("alert command ended with status " + std::to_string(result.terminationStatus) +
                    " (a command is ended after " + wholeSeconds(run.timeLimit) + "s)");
        }
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

} // namespace brivane::cli
