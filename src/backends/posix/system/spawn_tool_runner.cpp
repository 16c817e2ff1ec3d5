#include "backends/posix/system/spawn_tool_runner.h"

#include "backends/posix/system/file_descriptor.h"
#include "backends/posix/system/spawn_setup.h"
#include "backends/posix/tool_protocol/tool_invocations.h"
#include "base/error_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace brivane::platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

// Longest limit honoured; keeps the deadline arithmetic finite.
constexpr double longestLimit = 24.0 * 3600.0;
// Poll step while waiting for an exit without a process descriptor.
constexpr int exitPollMilliseconds = 10;

// The header of this C library declares pidfd_open without C linkage, so go to the kernel.
int openExitDescriptor(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));
}

// A started child and its process group. Whatever path leaves the run, the group is killed
// and the child reaped, so no zombie stays behind.
class ChildProcess {
public:
    explicit ChildProcess(pid_t pid) : pid_(pid), exitDescriptor_(openExitDescriptor(pid)) {}
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (!reaped_) {
            signalGroup(SIGKILL);
            reap();
        }
    }

    // The group id equals the child's pid; the unreaped child keeps it from being reused.
    void signalGroup(int signal) const { ::kill(-pid_, signal); }

    // Readable once the child has exited; absent where process descriptors are unavailable.
    const FileDescriptor& exitDescriptor() const { return exitDescriptor_; }

    // Whether the child has ended, without reaping it.
    bool hasExited() const {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
            return errno != EINTR;
        }
        return info.si_pid == pid_;
    }

    // Waits for the exit; the status as the platform reports it: the exit code, or the number
    // of the signal that ended the child, or -1 when it cannot be known.
    int reap() {
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid_, &status, 0);
        } while (result < 0 && errno == EINTR);
        reaped_ = true;
        if (result != pid_) {
            return -1;
        }
        if (WIFEXITED(status)) {
            return WEXITSTATUS(status);
        }
        if (WIFSIGNALED(status)) {
            return WTERMSIG(status);
        }
        return -1;
    }

private:
    pid_t pid_;
    FileDescriptor exitDescriptor_;
    bool reaped_ = false;
};

bool namesVariable(std::string_view entry, const ToolEnvironment& environment) {
    const auto name = entry.substr(0, entry.find('='));
    return std::any_of(environment.variables.begin(), environment.variables.end(),
                       [&](const auto& variable) { return variable.first == name; });
}

std::vector<std::string> environmentEntries(const ToolEnvironment& environment) {
    std::vector<std::string> entries;
    if (environment.policy == ToolEnvironment::Policy::inheritAndSet) {
        for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
            if (!namesVariable(*entry, environment)) {
                entries.emplace_back(*entry);
            }
        }
    }
    for (const auto& [name, value] : environment.variables) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> nullTerminated(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const auto& string : strings) {
        pointers.push_back(const_cast<char*>(string.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

int millisecondsUntil(Clock::time_point deadline, Clock::time_point now) {
    if (deadline <= now) {
        return 0;
    }
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    return static_cast<int>(remaining.count());
}

Clock::duration secondsToDuration(double seconds) {
    const double bounded = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, longestLimit);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

ToolResult launchFailure(int error) {
    ToolResult result;
    result.launchError = base::errorText(error);
    return result;
}

// posix_spawn's argument and environment vectors, with the strings they point into.
class SpawnVectors {
public:
    explicit SpawnVectors(const ToolRun& run) {
        arguments_.reserve(run.arguments.size() + 1);
        arguments_.push_back(run.path);
        arguments_.insert(arguments_.end(), run.arguments.begin(), run.arguments.end());
        argv_ = nullTerminated(arguments_);
        if (run.environment.policy != ToolEnvironment::Policy::inherit) {
            environment_ = environmentEntries(run.environment);
            envp_ = nullTerminated(environment_);
        }
    }
    SpawnVectors(const SpawnVectors&) = delete;
    SpawnVectors& operator=(const SpawnVectors&) = delete;

    char* const* argv() const { return argv_.data(); }
    // The agent's own environment unless the run brings one.
    char* const* envp() const { return envp_.empty() ? environ : envp_.data(); }

private:
    std::vector<std::string> arguments_;
    std::vector<std::string> environment_;
    std::vector<char*> argv_;
    std::vector<char*> envp_;
};

// Standard output into the pipe, standard error discarded.
void redirectOutput(SpawnFileActions& actions, int outputEnd) {
    posix_spawn_file_actions_adddup2(actions.get(), outputEnd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
}

// The agent's threads may block or ignore signals; the tool starts with the defaults, in a
// process group of its own.
void startWithDefaultSignals(SpawnAttributes& attributes) {
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(attributes.get(), &noSignals);
    sigset_t defaultSignals;
    sigemptyset(&defaultSignals);
    for (const int signal :
         {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
        sigaddset(&defaultSignals, signal);
    }
    posix_spawnattr_setsigdefault(attributes.get(), &defaultSignals);
    posix_spawnattr_setpgroup(attributes.get(), 0);
    posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                   POSIX_SPAWN_SETSIGDEF);
}

// Starts the tool writing into `outputEnd`; posix_spawn's error, 0 once started.
int startChild(const ToolRun& run, int outputEnd, pid_t& pid) {
    SpawnFileActions actions;
    redirectOutput(actions, outputEnd);
    SpawnAttributes attributes;
    startWithDefaultSignals(attributes);
    const SpawnVectors vectors(run);
    return ::posix_spawn(&pid, run.path.c_str(), actions.get(), attributes.get(), vectors.argv(),
                         vectors.envp());
}

// Reads a child's output until the pipe closes and the child has exited. Past the time limit
// the group gets SIGTERM, and SIGKILL once the grace is over; output beyond the cap kills it
// at once.
class OutputCollector {
public:
    OutputCollector(ChildProcess& child, FileDescriptor& readEnd, double timeLimit)
        : child_(child), readEnd_(readEnd), limit_(Clock::now() + secondsToDuration(timeLimit)),
          killAt_(limit_) {}

    void collect(std::string& output) {
        while (readEnd_.valid() || !exited_) {
            const auto now = Clock::now();
            if (!enforceLimit(now) || !awaitAndRead(now, output)) {
                break;
            }
        }
    }

    bool limitReached() const { return limitReached_; }
    bool overflowed() const { return overflowed_; }

private:
    // False once the grace is over and the run ends now.
    bool enforceLimit(Clock::time_point now) {
        if (!terminating_ && now >= limit_) {
            child_.signalGroup(SIGTERM);
            limitReached_ = terminating_ = true;
            killAt_ = now + secondsToDuration(SpawnToolRunner::terminationGrace);
        }
        if (terminating_ && now >= killAt_) {
            // Whatever still holds the pipe is not waited for; the reap after is prompt.
            child_.signalGroup(SIGKILL);
            return false;
        }
        return true;
    }

    // One wait on the pipe and the exit; false when the run ends now.
    bool awaitAndRead(Clock::time_point now, std::string& output) {
        std::array<pollfd, 2> watched{};
        nfds_t count = 0;
        int timeout = millisecondsUntil(terminating_ ? killAt_ : limit_, now);
        if (readEnd_.valid()) {
            watched[count++] = {readEnd_.get(), POLLIN, 0};
        }
        const bool watchExit = !exited_ && child_.exitDescriptor().valid();
        if (watchExit) {
            watched[count++] = {child_.exitDescriptor().get(), POLLIN, 0};
        } else if (!exited_) {
            timeout = std::min(timeout, exitPollMilliseconds);
        }

        if (::poll(watched.data(), count, timeout) < 0) {
            if (errno == EINTR) {
                return true;
            }
            child_.signalGroup(SIGKILL);
            return false;
        }
        if (readEnd_.valid() && watched[0].revents != 0 && !readAvailable(output)) {
            return false;
        }
        if (!exited_ && (!watchExit || watched[count - 1].revents != 0)) {
            exited_ = child_.hasExited();
        }
        return true;
    }

    // Appends what the pipe holds; false when that passes the cap.
    bool readAvailable(std::string& output) {
        const ssize_t got = ::read(readEnd_.get(), buffer_.data(), buffer_.size());
        if (got > 0) {
            if (output.size() + static_cast<std::size_t>(got) > SpawnToolRunner::outputCap) {
                overflowed_ = true;
                child_.signalGroup(SIGKILL);
                return false;
            }
            output.append(buffer_.data(), static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            readEnd_.reset();
        }
        return true;
    }

    ChildProcess& child_;
    FileDescriptor& readEnd_;
    const Clock::time_point limit_;
    Clock::time_point killAt_;
    bool limitReached_ = false;
    bool terminating_ = false;
    bool overflowed_ = false;
    bool exited_ = false;
    std::array<char, 64 * 1024> buffer_;
};

} // namespace

// A child known to its runner while it is unreaped, so that stop() can end its group.
// Declared after the ChildProcess it watches: it lets go before the child is reaped.
class RunningChild {
public:
    RunningChild(SpawnToolRunner* owner, pid_t group) : owner_(owner), group_(group) {}
    ~RunningChild() { release(); }
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;
    bool admitted() { return !owner_ || owner_->enter(group_); }
    void release() {
        if (owner_) {
            std::exchange(owner_, nullptr)->leave(group_);
        }
    }

private:
    SpawnToolRunner* owner_;
    pid_t group_;
};

ToolResult SpawnToolRunner::run(const ToolRun& requested) {
    const auto local = localInvocation(requested);
    if (!local) {
        return launchFailure(ENOENT);
    }
    return spawn(*local, this);
}

void SpawnToolRunner::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (const pid_t group : running_) {
        ::kill(-group, SIGKILL);
    }
}

bool SpawnToolRunner::enter(pid_t group) {
    std::lock_guard lock(mutex_);
    running_.insert(group);
    return !stopped_;
}

void SpawnToolRunner::leave(pid_t group) {
    std::lock_guard lock(mutex_);
    running_.erase(group);
}

ToolResult SpawnToolRunner::spawn(const ToolRun& run, SpawnToolRunner* owner) {
    if (run.path.empty() || run.path.front() != '/') {
        return launchFailure(ENOENT);
    }
    if (owner) {
        std::lock_guard lock(owner->mutex_);
        if (owner->stopped_) {
            return launchFailure(ECANCELED);
        }
    }

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return launchFailure(errno);
    }
    FileDescriptor readEnd(pipeEnds[0]);
    FileDescriptor writeEnd(pipeEnds[1]);

    pid_t pid = 0;
    if (const int spawnError = startChild(run, writeEnd.get(), pid); spawnError != 0) {
        return launchFailure(spawnError);
    }
    writeEnd.reset();
    ChildProcess child(pid);
    RunningChild tracked(owner, pid);
    if (!tracked.admitted()) {
        child.signalGroup(SIGKILL); // stopped meanwhile
    }

    ToolResult result;
    result.processIdentifier = static_cast<int32_t>(pid);
    OutputCollector collector(child, readEnd, run.timeLimit);
    collector.collect(result.output);

    readEnd.reset();
    tracked.release(); // the group id is free for reuse once the child is reaped
    result.terminationStatus = child.reap();
    if (collector.overflowed()) {
        result.output = std::string();
    }
    if ((collector.limitReached() || collector.overflowed()) && result.terminationStatus == 0) {
        // The tool exited cleanly but its output may be incomplete.
        result.terminationStatus = collector.overflowed() ? SIGKILL : SIGTERM;
    }
    return result;
}

} // namespace brivane::platform::posix
