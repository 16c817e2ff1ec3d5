#include "formats/document_codec.h"
#include "support/staged_agent.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto startLimit = 10s;

// The simulated bundle, the CLI, the test client and the agent executable outside its bundle,
// staged afresh for each test.
class AgentEndToEnd : public ::testing::Test {
protected:
    CommandResult client(const std::string& scenario, bool asAgent = true) {
        const std::vector<std::string> argv = {staged_.path("brivane-e2e-client"),
                                               staged_.endpoint(), scenario};
        return asAgent ? staged_.run(argv)
                       : runCommand(argv, staged_.environment(), staged_.scratch());
    }

    StagedAgent staged_{
        {.bundle = BRIVANE_E2E_BUNDLE,
         .executables = {BRIVANE_E2E_CLI, BRIVANE_E2E_CLIENT, BRIVANE_E2E_BARE_AGENT}}};
};

TEST_F(AgentEndToEnd, TheCLIGetsEveryKindOfAnswer) {
    ASSERT_TRUE(staged_.startAgent(startLimit));
    const auto snapshot = staged_.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0);
    const auto document = decodeSensorSnapshot(snapshot.output);
    ASSERT_TRUE(document.has_value()) << snapshot.output;
    EXPECT_EQ(document->helperUID, staged_.uid());
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
        EXPECT_EQ(staged_.cli(arguments).status, status)
            << arguments.front() << ' ' << arguments.back();
    }
}

TEST_F(AgentEndToEnd, PipelinedRequestsAreAnsweredOnceEachAndMatchedById) {
    ASSERT_TRUE(staged_.startAgent(startLimit));
    const auto result = client("pipeline");
    EXPECT_EQ(result.status, 0) << result.output;
}

TEST_F(AgentEndToEnd, AMalformedFrameClosesOnlyItsOwnConnection) {
    auto* agent = staged_.startAgent(startLimit);
    ASSERT_TRUE(agent);
    const auto result = client("malformed");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(agent->running());
}

TEST_F(AgentEndToEnd, APeerOfAnotherUserIsRefused) {
    if (!StagedAgent::isRoot()) {
        GTEST_SKIP() << "needs a second user";
    }
    ASSERT_TRUE(staged_.startAgent(startLimit));
    const auto result = client("refused", false);
    EXPECT_EQ(result.status, 0) << result.output;
}

TEST_F(AgentEndToEnd, ASecondAgentOnTheSameEndpointExitsTwo) {
    auto* first = staged_.startAgent(startLimit);
    ASSERT_TRUE(first);
    EXPECT_EQ(staged_.launchAgent().waitForExit(startLimit), 2);
    EXPECT_TRUE(first->running());
    EXPECT_EQ(client("snapshot").status, 0);
}

TEST_F(AgentEndToEnd, AStaleSocketIsReplaced) {
    auto* first = staged_.startAgent(startLimit);
    ASSERT_TRUE(first);
    first->kill(SIGKILL);
    ASSERT_TRUE(first->waitForExit(startLimit).has_value());
    ASSERT_TRUE(fs::exists(staged_.endpoint())) << "a killed agent leaves its socket file";
    auto* second = staged_.startAgent(startLimit);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->running());
}

TEST_F(AgentEndToEnd, TheAgentRefusesToStartWithoutItsPreconditions) {
    const auto bare = staged_.path(fs::path(BRIVANE_E2E_BARE_AGENT).filename());
    EXPECT_EQ(staged_.run({bare, "--agent"}, startLimit).status, 2)
        << "outside a bundle there is no team identifier";
    if (StagedAgent::isRoot()) {
        EXPECT_EQ(runCommand({staged_.agentExecutable(), "--agent"}, staged_.environment(),
                             staged_.scratch(), startLimit)
                      .status,
                  2)
            << "root";
    }
    EXPECT_EQ(staged_.run({staged_.agentExecutable(), "--agent", "--status"}, startLimit).status,
              2);
    EXPECT_FALSE(fs::exists(staged_.endpoint()));
}

} // namespace
} // namespace brivane::testing
