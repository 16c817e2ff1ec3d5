#include "platform/sim/canned_outputs.h"
#include "platform/sim/scripted_tool_runner.h"
#include "readers/accessory_reader.h"
#include "readers/recording_tool_runner.h"
#include "readers/storage_health_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brivane {
namespace {

using platform::sim::ScriptedToolRunner;

const std::string pmset = "/usr/bin/pmset";
const std::vector<std::string> pmsetArguments = {"-g", "accps", "-xml"};
const std::string diskutil = "/usr/sbin/diskutil";
const std::vector<std::string> disk0Arguments = {"info", "-plist", "disk0"};

// Both tools run with the agent's environment and two seconds.
void expectLastRun(const ScriptedToolRunner& runner, const std::string& path,
                   const std::vector<std::string>& arguments) {
    const auto run = runner.lastRun();
    ASSERT_TRUE(run);
    testing::expectRun(*run, {.path = path,
                              .arguments = arguments,
                              .environment = platform::ToolEnvironment::inherited(),
                              .timeLimit = 2.0,
                              .qos = platform::WatchdogQoS::utility});
}

TEST(ToolReadersTest, RunTheirToolsAndRepairTheText) {
    ScriptedToolRunner runner;
    runner.answer(pmset, pmsetArguments, 0,
                  "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                  "<key>Type</key><string>Accessory Source</string>"
                  "<key>Name</key><string>Mouse \xff</string>"
                  "<key>Current Capacity</key><integer>40</integer></dict></plist>");
    EXPECT_EQ(readAccessories(runner),
              (std::vector<SensorSnapshot::AccessoryReading>{{"Mouse \xEF\xBF\xBD", {}, 0.4}}));
    expectLastRun(runner, pmset, pmsetArguments);

    const std::vector<std::string> disk3s1 = {"info", "-plist", "disk3s1"};
    runner.answer(diskutil, disk3s1, 0, platform::sim::cannedDiskutilOutput("disk3s1"));
    const auto health = readStorageHealth(runner, "disk3s1");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->temperature, 36);
    expectLastRun(runner, diskutil, disk3s1);
}

TEST(ToolReadersTest, FailedRunsGiveNothing) {
    // A non-zero exit, an end by the time limit (status 15) or, for -1, a failed launch.
    for (int status : {1, 15, -1}) {
        SCOPED_TRACE(status);
        ScriptedToolRunner runner;
        if (status < 0) {
            runner.failLaunch(pmset, pmsetArguments);
            runner.failLaunch(diskutil, disk0Arguments);
        } else {
            runner.answer(pmset, pmsetArguments, status, platform::sim::cannedPmsetOutput());
            runner.answer(diskutil, disk0Arguments, status,
                          platform::sim::cannedDiskutilOutput("disk0"));
        }
        EXPECT_TRUE(readAccessories(runner).empty());
        EXPECT_FALSE(readStorageHealth(runner, "disk0"));
    }
}

} // namespace
} // namespace brivane
