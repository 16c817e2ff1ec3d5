#include "platform/sim/canned_outputs.h"
#include "platform/sim/scripted_tool_runner.h"
#include "readers/storage_health_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brivane {
namespace {

using platform::sim::ScriptedToolRunner;

const std::string diskutil = "/usr/sbin/diskutil";

TEST(StorageHealthReaderTest, RunsTheDiskUtilityForTheNamedDisk) {
    ScriptedToolRunner runner;
    runner.answer(diskutil, {"info", "-plist", "disk3s1"}, 0,
                  platform::sim::cannedDiskutilOutput("disk3s1"));
    const auto reading = readStorageHealth(runner, "disk3s1");
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->temperature, 36);

    const auto run = runner.lastRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(run->environment.policy, platform::ToolEnvironment::Policy::inherit);
    EXPECT_DOUBLE_EQ(run->timeLimit, 2.0);
}

TEST(StorageHealthReaderTest, FailedRunsGiveNoReading) {
    const std::vector<std::string> arguments = {"info", "-plist", "disk0"};
    const auto output = platform::sim::cannedDiskutilOutput("disk0");

    ScriptedToolRunner failing;
    failing.answer(diskutil, arguments, 1, output);
    EXPECT_FALSE(readStorageHealth(failing, "disk0"));

    ScriptedToolRunner missing;
    missing.failLaunch(diskutil, arguments);
    EXPECT_FALSE(readStorageHealth(missing, "disk0"));

    ScriptedToolRunner answersAnotherDisk;
    answersAnotherDisk.answer(diskutil, {"info", "-plist", "disk0s1"}, 0, output);
    EXPECT_FALSE(readStorageHealth(answersAnotherDisk, "disk0s1"));
}

} // namespace
} // namespace brivane
