#include "platform/sim/canned_outputs.h"
#include "readers/accessory_reader.h"
#include "readers/storage_health_reader.h"
#include "support/recording_tool_runner.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brivane {
namespace {

// Both tools run with the agent's environment and two seconds.
platform::ToolRun expectedRun(std::string path, std::vector<std::string> arguments) {
    return {std::move(path), std::move(arguments), platform::ToolEnvironment::inherited(), 2.0,
            platform::WatchdogQoS::utility};
}

TEST(ToolReadersTest, RunTheirToolsRepairTheTextAndGiveNothingForAFailedRun) {
    testing::RecordingToolRunner tools;
    tools.result.output = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                          "<key>Type</key><string>Accessory Source</string>"
                          "<key>Name</key><string>Mouse \xff</string>"
                          "<key>Current Capacity</key><integer>40</integer></dict></plist>";
    EXPECT_EQ(readAccessories(tools),
              (std::vector<SensorSnapshot::AccessoryReading>{{"Mouse \xEF\xBF\xBD", {}, 0.4}}));
    tools.result.output = platform::sim::cannedDiskutilOutput("disk3s1");
    const auto health = readStorageHealth(tools, "disk3s1");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->temperature, 36);

    ASSERT_EQ(tools.runs.size(), 2u);
    testing::expectRun(tools.runs[0], expectedRun("/usr/bin/pmset", {"-g", "accps", "-xml"}));
    testing::expectRun(tools.runs[1],
                       expectedRun("/usr/sbin/diskutil", {"info", "-plist", "disk3s1"}));

    for (const auto& failure : testing::failedRuns(platform::sim::cannedPmsetOutput())) {
        SCOPED_TRACE(failure.terminationStatus);
        tools.result = failure;
        EXPECT_TRUE(readAccessories(tools).empty());
        tools.result.output = platform::sim::cannedDiskutilOutput("disk0");
        EXPECT_FALSE(readStorageHealth(tools, "disk0"));
    }
}

} // namespace
} // namespace brivane
