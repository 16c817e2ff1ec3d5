#include "core/agent_startup.h"
#include "platform/sim/sim_process_table.h"

#include <gtest/gtest.h>

namespace brivane {
namespace {

// Every listener is refused as "already serving": no agent in these cases may get further.
TEST(AgentStartup, EndsWithStatusTwoBeforeListeningOrWhenTheEndpointIsServed) {
    using Info = std::map<std::string, std::string, std::less<>>;
    const Info team = {{"BrivaneTeamIdentifier", "TEAM1"}},
               noTeam = {{"BrivaneTeamIdentifier", ""}};
    const std::string service = ".dev.qorva.brivane.sensors.snapshot";
    struct Case {
        const char* name;
        Info info;
        uint32_t uid, euid;
        std::vector<std::string> listenedOn;
    };
    const Case cases[] = {
        {"no team identifier", {{"CFBundleShortVersionString", "1.0"}}, 501, 501, {}},
        {"root", team, 0, 0, {}},
        {"set-uid", team, 501, 0, {}},
        {"effective differs", team, 501, 502, {}},
        {"served", team, 501, 501, {"TEAM1" + service}},
        {"served, empty team", noTeam, 501, 501, {service}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> listenedOn;
        int servicesMade = 0;
        AgentStartupDependencies dependencies;
        dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(c.info);
        dependencies.processTable =
            std::make_shared<platform::sim::SimProcessTable>(10, c.uid, c.euid);
        dependencies.createListener = [&](std::string_view name) {
            listenedOn.emplace_back(name);
            return ListenerCreation{nullptr, ListenerFailure::alreadyServing, "busy"};
        };
        dependencies.makeService = [&]() -> std::shared_ptr<BrivaneSensorSnapshotXPC> {
            ++servicesMade;
            return nullptr;
        };
        EXPECT_EQ(runAgent(dependencies), exitUsage);
        EXPECT_EQ(listenedOn, c.listenedOn);
        EXPECT_EQ(servicesMade, 0);
    }
}

} // namespace
} // namespace brivane
