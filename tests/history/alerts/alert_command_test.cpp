#include "history/alerts/alert_command.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace brivane::cli {
namespace {

TEST(AlertCommand, EndsACommandAndWhatItStartedAtItsTimeLimit) {
    testing::TempDir folder("brivane-alert-command");
    std::vector<std::string> reports;
    const auto start = std::chrono::steady_clock::now();
    {
        AlertCommandRunner runner(CommandLauncher{},
                                  [&](const std::string& line) { reports.push_back(line); });
        runner.run({"sleep 60 & echo $! > " + (folder / "pid") + "; wait", 1, {}});
        runner.drain();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("ended with status"), std::string::npos) << reports[0];
    // The background sleep went with the shell: gone, or a zombie awaiting its new parent. A
    // killed process may still be on its way out for a moment after the kill.
    std::string pid;
    std::ifstream(folder / "pid") >> pid;
    ASSERT_FALSE(pid.empty());
    std::string stat;
    const auto gone = [&] {
        stat.clear();
        std::getline(std::ifstream("/proc/" + pid + "/stat"), stat);
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!gone() && std::chrono::steady_clock::now() < patience) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone()) << stat;
}

TEST(AlertCommand, UnderTheServiceManagerRunsAsATransientUnitBoundedInTime) {
    const auto run = commandRun(
        {"curl -d @- https://example.org/hook", 12.5, {{"BRIVANE_ALERT_RULE", "gpu hot"}}},
        {"/usr/bin/systemd-run"});
    EXPECT_EQ(run.path, "/usr/bin/systemd-run");
    const auto& args = run.arguments;
    const auto has = [&](const std::string& argument) {
        return std::find(args.begin(), args.end(), argument) != args.end();
    };
    EXPECT_TRUE(has("--user"));
    EXPECT_TRUE(has("--property=RuntimeMaxSec=13"));
    EXPECT_TRUE(has("--setenv=BRIVANE_ALERT_RULE=gpu hot"));
    ASSERT_GE(args.size(), 4u);
    EXPECT_EQ(
        std::vector<std::string>(args.end() - 4, args.end()),
        (std::vector<std::string>{"--", "/bin/sh", "-c", "curl -d @- https://example.org/hook"}));
    EXPECT_LE(run.timeLimit, 5);
}

TEST(AlertCommand, TheRunnersThreadLeavesTheProcessSignalsToTheThreadWaitingForThem) {
    AlertCommandRunner runner(CommandLauncher{}, [](const std::string&) {});
    runner.run({"true", 1, {}});
    runner.drain(); // its thread is up and waits
    sigset_t hangup{};
    sigset_t previous{};
    sigemptyset(&hangup);
    sigaddset(&hangup, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &hangup, &previous);
    // Taken by the runner's thread, the signal's default action would end the test.
    const auto action = std::signal(SIGHUP, SIG_DFL);
    ::kill(::getpid(), SIGHUP);
    const timespec limit{5, 0};
    EXPECT_EQ(::sigtimedwait(&hangup, nullptr, &limit), SIGHUP);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    std::signal(SIGHUP, action);
}

} // namespace
} // namespace brivane::cli
