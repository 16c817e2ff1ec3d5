// The agent's bundles and the CLI as real processes over the real socket. Framing, pipelining
// and malformed input are covered in-process (tests/ipc) and under attack (tests/attacks).

#include "formats/document_codec.h"
#include "support/staged_agent.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;

// Outside its bundle (no team identifier) or as root the agent does not start; started in
// the bundle, it answers every kind of request of its user's CLI and nothing to other users.
TEST(AgentEndToEnd, StartsOnlyInItsBundleAndAnswersOnlyItsUser) {
    StagedAgent staged(
        {.bundle = BRIVANE_E2E_BUNDLE, .executables = {BRIVANE_E2E_CLI, BRIVANE_E2E_BARE_AGENT}});
    const auto bare = staged.path(fs::path(BRIVANE_E2E_BARE_AGENT).filename());
    EXPECT_EQ(staged.run({bare, "--agent"}).status, 2);
    if (StagedAgent::isRoot()) {
        EXPECT_EQ(runCommand({staged.agentExecutable(), "--agent"}, staged.environment(),
                             staged.scratch())
                      .status,
                  2);
    }
    EXPECT_FALSE(fs::exists(staged.endpoint()));

    ASSERT_TRUE(staged.startAgent());
    const auto snapshot = staged.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0);
    const auto document = decodeSensorSnapshot(snapshot.output);
    ASSERT_TRUE(document.has_value()) << snapshot.output;
    EXPECT_EQ(document->helperUID, staged.uid());
    EXPECT_FALSE(document->temperatures.empty());
    EXPECT_TRUE(document->graphics && document->companionVersion);
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

} // namespace
} // namespace brivane::testing
