#include "platform/sim/canned_outputs.h"
#include "platform/sim/scripted_tool_runner.h"
#include "readers/accessory_reader.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace brivane {
namespace {

using platform::ManualUptimeClock;
using platform::sim::ScriptedToolRunner;

const std::string pmset = "/usr/bin/pmset";
const std::vector<std::string> pmsetArguments = {"-g", "accps", "-xml"};

std::string mouseAt(int percent) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
           "<key>Type</key><string>Accessory Source</string>"
           "<key>Name</key><string>Mouse \xff</string>"
           "<key>Current Capacity</key><integer>" +
           std::to_string(percent) + "</integer></dict></plist>";
}

class AccessoryCadenceTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedToolRunner> runner = std::make_shared<ScriptedToolRunner>();
    std::shared_ptr<ManualUptimeClock> clock = std::make_shared<ManualUptimeClock>(5.0);
    AccessoryPowerReader reader{runner, clock};

    std::size_t runs() const { return runner->calls(pmset, pmsetArguments); }
};

TEST_F(AccessoryCadenceTest, RunsTheToolAtMostOncePerInterval) {
    runner->answer(pmset, pmsetArguments, 0, mouseAt(40));
    ASSERT_EQ(reader.accessories().size(), 1u);
    EXPECT_EQ(runs(), 1u);
    EXPECT_DOUBLE_EQ(reader.nextAccessoryRead(), 35.0);

    runner->answer(pmset, pmsetArguments, 0, mouseAt(30));
    clock->set(34.999);
    EXPECT_DOUBLE_EQ(reader.accessories().at(0).level, 0.4);
    EXPECT_EQ(runs(), 1u);

    clock->set(35.0);
    EXPECT_DOUBLE_EQ(reader.accessories().at(0).level, 0.3);
    EXPECT_EQ(runs(), 2u);
}

TEST_F(AccessoryCadenceTest, UsesTheToolsInvocationAndRepairsItsText) {
    runner->answer(pmset, pmsetArguments, 0, mouseAt(40));
    const auto readings = reader.accessories();
    const auto run = runner->lastRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(run->environment.policy, platform::ToolEnvironment::Policy::inherit);
    EXPECT_DOUBLE_EQ(run->timeLimit, 2.0);
    ASSERT_EQ(readings.size(), 1u);
    EXPECT_EQ(readings[0].name, "Mouse \xEF\xBF\xBD");
}

TEST_F(AccessoryCadenceTest, FailedRunEmptiesTheListUntilTheNextRun) {
    runner->answer(pmset, pmsetArguments, 0, mouseAt(40));
    ASSERT_EQ(reader.accessories().size(), 1u);

    struct Failure {
        const char* name;
        void (*script)(ScriptedToolRunner&);
    };
    const Failure failures[] = {
        {"non-zero exit",
         [](ScriptedToolRunner& r) { r.answer(pmset, pmsetArguments, 1, mouseAt(50)); }},
        {"launch failure", [](ScriptedToolRunner& r) { r.failLaunch(pmset, pmsetArguments); }},
        {"ended by its limit",
         [](ScriptedToolRunner& r) { r.answer(pmset, pmsetArguments, 15, mouseAt(50)); }},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        failure.script(*runner);
        clock->advance(30);
        EXPECT_TRUE(reader.accessories().empty());
        runner->answer(pmset, pmsetArguments, 0, mouseAt(50));
        clock->advance(29);
        EXPECT_TRUE(reader.accessories().empty()) << "a failed run also waits a full interval";
        clock->advance(1);
        EXPECT_EQ(reader.accessories().size(), 1u);
    }
}

TEST_F(AccessoryCadenceTest, SimulatedLaptopAnswersWithItsAccessories) {
    runner->answer(pmset, pmsetArguments, 0, platform::sim::cannedPmsetOutput());
    EXPECT_EQ(reader.accessories().size(), 4u);
}

} // namespace
} // namespace brivane
