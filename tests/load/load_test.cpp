// Many clients pipeline every kind of request at the simulated agent, abandoning a batch now
// and then; each checks that every request it waited for was answered once, with its document.

#include "support/staged_agent.h"

#include <gtest/gtest.h>
#include <thread>

namespace brivane::testing {
namespace {

using namespace std::chrono_literals;

TEST(Load, ManyClientsWithRandomDisconnectsAreEachAnsweredExactlyOnce) {
    StagedAgent staged(
        {.bundle = BRIVANE_LOAD_BUNDLE, .executables = {BRIVANE_LOAD_CLI, BRIVANE_LOAD_CLIENT}});
    ChildProcess* agent = staged.startAgent();
    ASSERT_TRUE(agent);
    // Every reader sets up what it keeps before the baseline is taken.
    for (const auto& request : std::vector<std::vector<std::string>>{{"snapshot"},
                                                                     {"cpu"},
                                                                     {"processes", "memory"},
                                                                     {"processes", "storage"},
                                                                     {"storage", "disk0"}}) {
        ASSERT_EQ(staged.cli(request).status, 0) << request.back();
    }
    std::this_thread::sleep_for(200ms);
    const auto baseline = agent->openDescriptors();
    ASSERT_TRUE(baseline);

    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (int seed = 1000; seed < 1032; ++seed) {
        clients.push_back(std::make_unique<ChildProcess>(
            staged.asAgentUser({staged.path("brivane-attack-client"), "load", staged.endpoint(),
                                "2000", std::to_string(seed)}),
            staged.environment(), staged.scratch()));
    }
    for (auto& client : clients) {
        EXPECT_EQ(client->waitForExit(10min), 0) << "client " << client->pid();
    }

    EXPECT_TRUE(agent->running());
    for (int i = 0; i < 250 && agent->openDescriptors().value_or(0) > *baseline; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LE(agent->openDescriptors().value_or(0), *baseline);
    EXPECT_EQ(staged.cli({"snapshot"}).status, 0);
}

} // namespace
} // namespace brivane::testing
