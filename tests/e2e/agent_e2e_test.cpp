// The agent's bundles and the CLI as real processes over the real socket. Framing, pipelining
// and malformed input are covered in-process (tests/ipc) and under load (tests/load).

#include "formats/document_codec.h"
#include "support/staged_agent.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;

TEST(AgentEndToEnd, TheCLIGetsEveryKindOfAnswerAndOtherUsersNone) {
    StagedAgent staged({.bundle = BRIVANE_E2E_BUNDLE, .executables = {BRIVANE_E2E_CLI}});
    ASSERT_TRUE(staged.startAgent());
    const auto snapshot = staged.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0);
    const auto document = decodeSensorSnapshot(snapshot.output);
    ASSERT_TRUE(document.has_value()) << snapshot.output;
    EXPECT_EQ(document->helperUID, staged.uid());
    EXPECT_FALSE(document->temperatures.empty());
    EXPECT_TRUE(document->graphics.has_value());
    EXPECT_TRUE(document->companionVersion.has_value());

    const std::vector<std::pair<std::vector<std::string>, int>> requests = {
        {{"cpu"}, 0},
        {{"processes", "memory"}, 0},
        {{"processes", "storage"}, 0},
        {{"storage", "disk0"}, 0},
        {{"processes", "Memory"}, 3},
        {{"storage", "/dev/disk0"}, 3},
        {{"manage", "checkForUpdate"}, 3},
    };
    for (const auto& [arguments, status] : requests) {
        const auto shown = staged.cli(arguments);
        EXPECT_EQ(shown.status, status) << arguments.front() << ' ' << arguments.back();
        EXPECT_EQ(shown.output.find("did not decode"), std::string::npos) << shown.output;
    }
    if (StagedAgent::isRoot()) { // the agent runs as "nobody": root is another user
        const auto other = runCommand(
            {staged.path("brivane-sensors"), "--endpoint", staged.endpoint(), "snapshot"},
            staged.environment(), staged.scratch());
        EXPECT_EQ(other.status, 1) << other.output;
    }
}

TEST(AgentEndToEnd, TheAgentRefusesToStartOutsideItsBundleOrAsRoot) {
    StagedAgent staged({.bundle = BRIVANE_E2E_BUNDLE, .executables = {BRIVANE_E2E_BARE_AGENT}});
    const auto bare = staged.path(fs::path(BRIVANE_E2E_BARE_AGENT).filename());
    EXPECT_EQ(staged.run({bare, "--agent"}).status, 2) << "no team identifier outside a bundle";
    if (StagedAgent::isRoot()) {
        EXPECT_EQ(runCommand({staged.agentExecutable(), "--agent"}, staged.environment(),
                             staged.scratch())
                      .status,
                  2);
    }
    EXPECT_FALSE(fs::exists(staged.endpoint()));
}

TEST(AgentEndToEnd, TheLinuxAgentAnswersASnapshotOverAnEmptySys) {
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        GTEST_SKIP() << problem;
    }
    StagedAgent staged(
        {.bundle = BRIVANE_E2E_LINUX_BUNDLE, .executables = {BRIVANE_E2E_CLI}, .bindSys = true});
    staged.sysTree().makeDirectory("class/hwmon");
    staged.sysTree().makeDirectory("class/power_supply");
    ASSERT_TRUE(staged.startAgent());
    const auto snapshot = staged.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0) << snapshot.output;
    EXPECT_TRUE(nlohmann::json::parse(snapshot.output, nullptr, false).is_object())
        << snapshot.output;
}

} // namespace
} // namespace brivane::testing
