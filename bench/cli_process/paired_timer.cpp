// Times two commands as whole processes, in turn (A B A B ...), from spawn to reap, and prints
// each one's median wall time and the median of the pairwise ratios A/B. Both commands start
// with standard output and error on /dev/null, so neither pays for a terminal.
//   paired_timer RUNS COMMAND_A... --vs COMMAND_B...
// A variable NAME=VALUE given as --env-b NAME=VALUE before COMMAND_A is set for B alone (the
// bench preloads its statfs shim into `sensors` that way, so that no wrapper adds a start-up).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Wall seconds of one run, or a negative number when it did not start or failed.
double timeOnce(const std::vector<char*>& argv, char** environment) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> a, b;
    std::vector<char*> environmentB;
    for (char** variable = environ; *variable; ++variable) {
        environmentB.push_back(*variable);
    }
    bool second = false;
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--env-b" && i + 1 < argc && a.empty()) {
            environmentB.push_back(argv[++i]);
        } else if (std::string(argv[i]) == "--vs") {
            second = true;
        } else {
            (second ? b : a).push_back(argv[i]);
        }
    }
    const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
    if (runs < 1 || a.empty() || b.empty()) {
        std::fprintf(stderr, "usage: paired_timer RUNS [--env-b NAME=VALUE] COMMAND_A... --vs "
                             "COMMAND_B...\n");
        return 2;
    }
    a.push_back(nullptr);
    b.push_back(nullptr);
    environmentB.push_back(nullptr);
    // One unmeasured run each warms the page cache.
    if (timeOnce(a, environ) < 0 || timeOnce(b, environmentB.data()) < 0) {
        std::fprintf(stderr, "paired_timer: a command failed\n");
        return 1;
    }
    std::vector<double> timesA, timesB, ratios;
    for (int run = 0; run < runs; ++run) {
        const double ta = timeOnce(a, environ), tb = timeOnce(b, environmentB.data());
        if (ta < 0 || tb < 0) {
            std::fprintf(stderr, "paired_timer: run %d: a command failed\n", run);
            return 1;
        }
        timesA.push_back(ta);
        timesB.push_back(tb);
        ratios.push_back(ta / tb);
    }
    std::printf("%-40s median %.2f ms\n%-40s median %.2f ms\nratio A/B, median of %d pairs: %.2f\n",
                a[0], median(timesA) * 1000, b[0], median(timesB) * 1000, runs, median(ratios));
    return 0;
}
