#include "support/staged_agent.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace brivane::testing {
namespace {

// The Linux agent over a /sys with no sensors at all still serves a snapshot.
TEST(LinuxAgentEndToEnd, AnswersASnapshotOverAnEmptySys) {
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        GTEST_SKIP() << problem;
    }
    StagedAgent staged(
        {.bundle = BRIVANE_E2E_LINUX_BUNDLE, .executables = {BRIVANE_E2E_CLI}, .bindSys = true});
    std::filesystem::create_directories(staged.sys() / "class/hwmon");
    std::filesystem::create_directories(staged.sys() / "class/power_supply");
    ASSERT_TRUE(staged.startAgent());
    const auto snapshot = staged.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0) << snapshot.output;
    EXPECT_TRUE(nlohmann::json::parse(snapshot.output, nullptr, false).is_object())
        << snapshot.output;
}

} // namespace
} // namespace brivane::testing
