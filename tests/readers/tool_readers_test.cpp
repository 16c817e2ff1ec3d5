#include "platform/sim/canned_outputs.h"
#include "platform/sim/scripted_tool_runner.h"
#include "readers/accessory_reader.h"
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

void expectInheritedEnvironmentAndTwoSeconds(const ScriptedToolRunner& runner) {
    const auto run = runner.lastRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(run->environment.policy, platform::ToolEnvironment::Policy::inherit);
    EXPECT_DOUBLE_EQ(run->timeLimit, 2.0);
}

TEST(ToolReadersTest, RunTheirToolsAndRepairTheText) {
    ScriptedToolRunner runner;
    runner.answer(pmset, pmsetArguments, 0,
                  "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                  "<key>Type</key><string>Accessory Source</string>"
                  "<key>Name</key><string>Mouse \xff</string>"
                  "<key>Current Capacity</key><integer>40</integer></dict></plist>");
    const auto accessories = readAccessories(runner);
    ASSERT_EQ(accessories.size(), 1u);
    EXPECT_EQ(accessories[0].name, "Mouse \xEF\xBF\xBD");
    EXPECT_DOUBLE_EQ(accessories[0].level, 0.4);
    expectInheritedEnvironmentAndTwoSeconds(runner);

    runner.answer(diskutil, {"info", "-plist", "disk3s1"}, 0,
                  platform::sim::cannedDiskutilOutput("disk3s1"));
    const auto health = readStorageHealth(runner, "disk3s1");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->temperature, 36);
    expectInheritedEnvironmentAndTwoSeconds(runner);
}

// A non-zero exit, an end by the time limit (status 15) or, for -1, a failed launch.
void answerFailing(ScriptedToolRunner& runner, int status, const std::string& tool,
                   const std::vector<std::string>& arguments, const std::string& output) {
    if (status < 0) {
        runner.failLaunch(tool, arguments);
    } else {
        runner.answer(tool, arguments, status, output);
    }
}

TEST(ToolReadersTest, FailedRunsGiveNothing) {
    for (int status : {1, 15, -1}) {
        SCOPED_TRACE(status);
        ScriptedToolRunner runner;
        answerFailing(runner, status, pmset, pmsetArguments, platform::sim::cannedPmsetOutput());
        EXPECT_TRUE(readAccessories(runner).empty());
        answerFailing(runner, status, diskutil, disk0Arguments,
                      platform::sim::cannedDiskutilOutput("disk0"));
        EXPECT_FALSE(readStorageHealth(runner, "disk0"));
    }

    ScriptedToolRunner answersAnotherDisk;
    answersAnotherDisk.answer(diskutil, {"info", "-plist", "disk0s1"}, 0,
                              platform::sim::cannedDiskutilOutput("disk0"));
    EXPECT_FALSE(readStorageHealth(answersAnotherDisk, "disk0s1"));
}

} // namespace
} // namespace brivane
