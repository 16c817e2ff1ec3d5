#include "backends/posix/system/spawn_tool_runner.h"
#include "backends/posix/tool_protocol/tool_invocations.h"
#include "support/child_process.h"
#include "support/recording_tool_runner.h"
#include "support/temp_dir.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace brivane::platform::posix {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// Shell scripts standing in for system tools.
class ToolRunnerTest : public ::testing::Test {
protected:
    brivane::testing::TempDir tools{"brivane-fake-tools"};

    std::string script(const std::string& name, const std::string& body) const {
        tools.write(name, "#!/bin/sh\n" + body + "\n", 0700);
        return tools / name;
    }
};

ToolRun runOf(std::string path, double limit = 2.0, std::vector<std::string> arguments = {}) {
    ToolRun run;
    run.path = std::move(path);
    run.arguments = std::move(arguments);
    run.timeLimit = limit;
    return run;
}

struct TimedResult {
    ToolResult result;
    double seconds;
};
TimedResult timedRun(const ToolRun& run) {
    SpawnToolRunner runner;
    const auto start = std::chrono::steady_clock::now();
    auto result = runner.run(run);
    return {std::move(result),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

bool noChildLeft() {
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// Gone, or a zombie waiting for a reaper that is not us.
bool processGone(pid_t pid) {
    return brivane::testing::pollUntil(std::chrono::seconds(1), [pid] {
        const auto stat = brivane::testing::readFile("/proc/" + std::to_string(pid) + "/stat");
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    });
}

TEST_F(ToolRunnerTest, CapturesStatusAndEveryByteOfStandardOutputOnly) {
    struct Case {
        const char* name;
        std::string body;
        int status;
        std::string expected;
        std::vector<std::string> arguments = {};
    };
    const std::vector<Case> cases = {
        {"failure with standard error", "echo partial; echo noise >&2; exit 1", 1, "partial\n"},
        {"larger than a pipe buffer", "head -c 1000000 /dev/zero | tr '\\0' x", 0,
         std::string(1000000, 'x')},
        {"invalid UTF-8 and a NUL", "printf 'a\\377\\376\\000b\\300'", 0,
         std::string("a\xff\xfe\0b\xc0", 6)},
        {"arguments without a shell",
         "for a in \"$@\"; do printf '[%s]' \"$a\"; done",
         0,
         "[two words][$HOME][*][][a;b]",
         {"two words", "$HOME", "*", "", "a;b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = timedRun(runOf(script("tool", c.body), 2.0, c.arguments)).result;
        EXPECT_FALSE(result.launchError);
        EXPECT_EQ(result.terminationStatus, c.status);
        EXPECT_TRUE(result.output == c.expected) << "got " << result.output.size() << " bytes";
    }
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ToolRunnerTest, MissingOrRelativePathIsALaunchFailure) {
    for (const auto& path : {tools / "absent", std::string("sh"), std::string()}) {
        SCOPED_TRACE(path);
        const auto result = timedRun(runOf(path)).result;
        ASSERT_TRUE(result.launchError);
        EXPECT_FALSE(result.launchError->empty());
        EXPECT_TRUE(result.output.empty());
    }
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ToolRunnerTest, MisbehavingToolsAreBoundedAndFail) {
    const auto marker = tools / "grandchild.pid";
    struct Case {
        const char* name;
        std::string body;
        double limit, minSeconds, maxSeconds;
        std::optional<int> status;
        std::optional<std::string> output;
        bool grandchildEnded = false;
    };
    const std::vector<Case> cases = {
        {"hung tool ends at its limit", "echo started; exec sleep 30", 0.5, 0.45, 1.5, SIGTERM,
         "started\n"},
        {"ignoring termination is killed", "trap '' TERM; while :; do sleep 1; done", 0.5, 0, 1.5,
         SIGKILL, std::nullopt},
        {"closing its output but staying", "exec >&-; exec sleep 30", 0.5, 0, 1.5, std::nullopt,
         std::nullopt},
        // The tool exits at once; its background child keeps standard output open.
        {"grandchild holding the pipe", "sleep 30 & echo $! > '" + marker + "'; echo done", 0.5, 0,
         1.5, std::nullopt, "done\n", true},
        {"grandchild leaving the group", "setsid sleep 3 & echo done", 0.3, 0, 1.3, std::nullopt,
         std::nullopt},
        {"output beyond the cap", "exec cat /dev/zero", 5.0, 0, 5.0, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [result, seconds] = timedRun(runOf(script("tool", c.body), c.limit));
        EXPECT_GE(seconds, c.minSeconds);
        EXPECT_LT(seconds, c.maxSeconds);
        EXPECT_FALSE(result.succeeded());
        EXPECT_LE(result.output.size(), SpawnToolRunner::outputCap);
        // Absent expectations accept whatever came.
        EXPECT_EQ(result.terminationStatus, c.status.value_or(result.terminationStatus));
        EXPECT_EQ(result.output, c.output.value_or(result.output));
        if (c.grandchildEnded) {
            pid_t grandchild = 0;
            std::ifstream(marker) >> grandchild;
            ASSERT_GT(grandchild, 0);
            EXPECT_TRUE(processGone(grandchild)) << "the tool's process group is ended with it";
        }
        EXPECT_TRUE(noChildLeft());
    }
}

TEST(ToolRunnerEnvironmentTest, PoliciesShapeTheChildsEnvironment) {
    ::setenv("BRIVANE_RUNNER_MARK", "inherited", 1);
    ::setenv("LANG", "xx_XX.UTF-8", 1);
    const auto environmentUnder = [](ToolEnvironment environment) {
        auto run = runOf("/usr/bin/env");
        run.environment = std::move(environment);
        return timedRun(run).result.output;
    };
    EXPECT_EQ(environmentUnder(ToolEnvironment::exactly({{"LC_ALL", "C"}})), "LC_ALL=C\n");
    EXPECT_THAT(
        environmentUnder(ToolEnvironment::inherited()),
        AllOf(HasSubstr("BRIVANE_RUNNER_MARK=inherited\n"), HasSubstr("LANG=xx_XX.UTF-8\n")));
    EXPECT_THAT(environmentUnder(ToolEnvironment::inheritedWith({{"LC_ALL", "C"}, {"LANG", "C"}})),
                AllOf(HasSubstr("BRIVANE_RUNNER_MARK=inherited\n"), HasSubstr("LC_ALL=C\n"),
                      HasSubstr("LANG=C\n"), Not(HasSubstr("xx_XX"))));
    ::unsetenv("BRIVANE_RUNNER_MARK");
}

TEST_F(ToolRunnerTest, ConcurrentRunsKeepTheirOwnPipes) {
    const auto slow = script("slow", "exec sleep 3");
    const auto quick = script("quick", "echo \"$1\"");
    std::thread sleeper([&] { timedRun(runOf(slow, 4.0)); });
    std::vector<TimedResult> results(6);
    {
        std::vector<std::jthread> workers;
        for (std::size_t i = 0; i < results.size(); ++i) {
            workers.emplace_back(
                [&, i] { results[i] = timedRun(runOf(quick, 3.0, {std::to_string(i)})); });
        }
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].result.output, std::to_string(i) + "\n");
        EXPECT_LT(results[i].seconds, 2.0) << "a sibling's child held this pipe open";
    }
    sleeper.join();
    EXPECT_TRUE(noChildLeft());
}

TEST(ToolInvocationTest, MapsMacToolsToTheStandInsNextToTheExecutable) {
    const auto here = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::array<std::array<std::string, 3>, 6> cases = {{
        {"/bin/ps", "brivane-system-tools", "ps"},
        {"/usr/bin/top", "brivane-system-tools", "top"},
        {"/usr/bin/pmset", "brivane-system-tools", "pmset"},
        {"/usr/sbin/diskutil", "brivane-system-tools", "diskutil"},
        {"/usr/sbin/pkgutil", "brivane-codesign", "pkgutil"},
        {"/usr/sbin/spctl", "brivane-codesign", "spctl"},
    }};
    const auto environment = ToolEnvironment::exactly({{"LC_ALL", "C"}});
    for (const auto& [macPath, executable, firstArgument] : cases) {
        SCOPED_TRACE(macPath);
        const ToolRun request{macPath, {"-A", "x y"}, environment, 15.0, WatchdogQoS::standard};
        const auto local = localInvocation(request);
        ASSERT_TRUE(local);
        brivane::testing::expectRun(*local, {here / executable,
                                             {firstArgument, "-A", "x y"},
                                             environment,
                                             15.0,
                                             WatchdogQoS::standard});
    }
    const auto unknown = runOf("/opt/some/tool", 1.0, {"x"});
    const auto passed = localInvocation(unknown);
    ASSERT_TRUE(passed);
    brivane::testing::expectRun(*passed, unknown);
}

} // namespace
} // namespace brivane::platform::posix
