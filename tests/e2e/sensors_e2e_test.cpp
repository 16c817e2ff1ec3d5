#include "support/staged_agent.h"
#include "support/sysfs_fixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace brivane::testing {
namespace {

// The Linux agent over a small laptop's /sys, as an unprivileged user: the snapshot the CLI
// receives carries the SMC chip, the other monitors, the battery and the card in their
// places, and a failure the SMC meets on every poll is printed once.
TEST(LinuxAgentEndToEnd, ReportsTheSensorsOfAFixtureLaptop) {
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        GTEST_SKIP() << problem;
    }
    StagedAgent staged(
        {.bundle = BRIVANE_E2E_LINUX_BUNDLE, .executables = {BRIVANE_E2E_CLI}, .bindSys = true});
    addLinuxLaptop(staged.sysTree());
    ASSERT_TRUE(staged.startAgent());
    nlohmann::json snapshot;
    for (int poll = 0; poll < 3; ++poll) {
        const auto answer = staged.cli({"--raw", "snapshot"});
        ASSERT_EQ(answer.status, 0) << answer.output;
        snapshot = nlohmann::json::parse(answer.output, nullptr, false);
    }
    // Absent SMC sensors (−127 °C, 0 °C) and a chip's 150 °C are dropped; the other chips
    // come after the SMC and before the battery; the fan after an unreadable SMC fan keeps
    // its number.
    EXPECT_EQ(snapshot["temperatures"], nlohmann::json::parse(R"([{"key":"TC0P","value":45.25},
        {"key":"coretemp/Core 0","value":50},{"key":"BatteryTemperature","value":30.5}])"));
    EXPECT_EQ(snapshot["fans"], nlohmann::json::parse(R"([
        {"id":0,"name":"Left side","rpm":1200,"maximumRPM":6000},
        {"id":2,"name":"thinkpad fan1","rpm":2900}])"));
    EXPECT_EQ(snapshot["power"].back(),
              nlohmann::json::parse(R"({"key":"BatteryVoltage","value":12.6})"));
    EXPECT_EQ(snapshot["graphics"], nlohmann::json::parse(R"({"utilization":0.37})"));

    // The agent is the first thing the stage ran, so its output is the first scratch file.
    std::ostringstream printed;
    printed << std::ifstream(staged.path("out1")).rdbuf();
    const std::string line = "Error read(F1Ac): (iokit/common) general error\n";
    const auto first = printed.str().find(line);
    EXPECT_NE(first, std::string::npos) << printed.str();
    EXPECT_EQ(printed.str().find(line, first + 1), std::string::npos) << printed.str();
}

} // namespace
} // namespace brivane::testing
