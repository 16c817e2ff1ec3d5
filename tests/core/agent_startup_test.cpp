#include "core/agent_startup.h"
#include "core/companion_main.h"
#include "platform/sim/sim_process_table.h"

#include <gtest/gtest.h>

namespace brivane {
namespace {

struct Attempt {
    int status = -1;
    int listenersCreated = 0;
    int servicesMade = 0;
    std::string serviceName;
};

Attempt startAgent(std::map<std::string, std::string, std::less<>> info, uint32_t uid,
                   uint32_t euid) {
    Attempt attempt;
    AgentStartupDependencies dependencies;
    dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(std::move(info));
    dependencies.processTable = std::make_shared<platform::sim::SimProcessTable>(10, uid, euid);
    dependencies.createListener = [&attempt](std::string_view name) {
        ++attempt.listenersCreated;
        attempt.serviceName = name;
        return ListenerCreation{nullptr, ListenerFailure::alreadyServing, "busy"};
    };
    dependencies.makeService = [&attempt]() -> std::shared_ptr<BrivaneSensorSnapshotXPC> {
        ++attempt.servicesMade;
        return nullptr;
    };
    attempt.status = runAgent(dependencies);
    return attempt;
}

TEST(AgentStartup, PreconditionsFailWithStatusTwoBeforeAnyListenerExists) {
    const std::map<std::string, std::string, std::less<>> team = {
        {"BrivaneTeamIdentifier", "TEAM1"}};
    struct Case {
        const char* name;
        std::map<std::string, std::string, std::less<>> info;
        uint32_t uid, euid;
    };
    const std::vector<Case> cases = {
        {"no team identifier", {{"CFBundleShortVersionString", "1.0"}}, 501, 501},
        {"root", team, 0, 0},
        {"set-uid", team, 501, 0},
        {"effective differs", team, 501, 502},
    };
    for (const auto& c : cases) {
        const auto attempt = startAgent(c.info, c.uid, c.euid);
        EXPECT_EQ(attempt.status, exitUsage) << c.name;
        EXPECT_EQ(attempt.listenersCreated, 0) << c.name;
        EXPECT_EQ(attempt.servicesMade, 0) << c.name;
    }
}

TEST(AgentStartup, AnEndpointAlreadyServedEndsTheAgentWithStatusTwo) {
    const auto attempt = startAgent({{"BrivaneTeamIdentifier", ""}}, 501, 501);
    EXPECT_EQ(attempt.status, exitUsage);
    EXPECT_EQ(attempt.listenersCreated, 1);
    EXPECT_EQ(attempt.serviceName, ".dev.qorva.brivane.sensors.snapshot");
    EXPECT_EQ(attempt.servicesMade, 0);
}

} // namespace
} // namespace brivane
