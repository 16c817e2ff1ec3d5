#include "backends/sim/sim_process_table.h"
#include "backends/sim/sim_service_manager.h"
#include "core/agent_startup.h"
#include "core/command_line.h"
#include "core/companion_registration.h"

#include <gtest/gtest.h>
#include <sstream>

namespace brivane {
namespace {

using platform::ServiceManager;
using platform::sim::SimServiceManager;

constexpr const char* bundle = "/Applications/Companion.app";
constexpr const char* shippedPlist = "/Applications/Companion.app/Contents/Library/LaunchAgents/"
                                     "dev.qorva.brivane.SensorCompanion.plist";
constexpr int unknownState = 9;
constexpr int agentStatus = 42; // what the agent's entry point returns here

// The command line over a service manager in `state` that moves to `after` on registering and
// fails a step with the given text; `shipped`: the bundle carries the agent's property list.
// A failing step exits 1 with its text alone on standard error; otherwise standard error holds
// `err` (one line saying what was done or what was wrong), or nothing when `err` is empty.
// `reg`, `unreg`, `opened`: the registrations, unregistrations and settings opened.
struct Case {
    std::vector<std::string> argv;
    int state;
    std::string out = "";
    int reg = 0, unreg = 0, opened = 0;
    int after = ServiceManager::enabled;
    bool shipped = false;
    std::optional<std::string> regFails = {}, unregFails = {};
    int status = 0;
    std::string err = "";
};

TEST(CommandLine, RegistrationFormsAskTheServiceManagerAndReportTheOutcome) {
    const auto version = std::string("brivane-sensor-companion ") + BRIVANE_VERSION + "\n";
    const std::string approve = "registered but turned off; approve it in the login-items settings";
    const std::string registered = "registered the agent with the user's service manager\n";
    const std::string enabled = "enabled\n", approval = "requiresApproval\n";
    const std::string recover = "brivane-sensor-companion --install\n";
    const Case cases[] = {
        {.argv = {"p", "--status"}, .state = 0, .out = "disabled\n"},
        {.argv = {"p", "--status"}, .state = 2, .out = approval, .err = approve},
        {.argv = {"p", "--status"}, .state = 3, .out = "disabled\n", .shipped = true},
        {.argv = {"p", "--status"}, .state = 3, .out = "unavailable\n"},
        {.argv = {"p", "--status"}, .state = 7, .out = "unavailable\n", .shipped = true},
        // A registration the service manager gave up on waits for the user, who reinstalls.
        {.argv = {"p", "--status"}, .state = 4, .out = approval, .err = "every request fails"},
        {.argv = {"p"}, .state = 4, .out = approval, .err = "recover it with: " + recover},
        {.argv = {"p", "--install"},
         .state = 4,
         .out = enabled,
         .reg = 1,
         .unreg = 1,
         .err = "had given up starting it and starts it again\n"},
        {.argv = {"p", "--version"}, .state = 1, .out = version},
        {.argv = {"p", "--agent"}, .state = 0, .status = agentStatus},
        // Enabling registers only what is not registered; approval is asked for, not installs.
        {.argv = {"p"}, .state = 1, .out = enabled, .err = "registered already; nothing changed"},
        {.argv = {}, .state = 0, .out = enabled, .reg = 1, .err = registered},
        {.argv = {"p", "--enable"}, .state = unknownState, .out = enabled, .reg = 1},
        {.argv = {"p", "--enable"},
         .state = 0,
         .out = approval,
         .reg = 1,
         .opened = 1,
         .after = 2,
         .err = registered + "brivane-sensor-companion: the agent is " + approve},
        {.argv = {"p", "--enable"}, .state = 2, .out = approval, .opened = 1},
        // Installing registers afresh.
        {.argv = {"p", "--install"}, .state = 0, .out = enabled, .reg = 1},
        {.argv = {"p", "--install"},
         .state = 2,
         .out = enabled,
         .reg = 1,
         .unreg = 1,
         .err = "registered the agent afresh\n"},
        {.argv = {"p", "--install"}, .state = 1, .out = approval, .reg = 1, .unreg = 1, .after = 2},
        {.argv = {"p", "--disable"}, .state = 1, .unreg = 1},
        // A failed step ends the sequence.
        {.argv = {"p"}, .state = 3, .reg = 1, .regFails = "no such agent"},
        {.argv = {"p", "--install"}, .state = 1, .unreg = 1, .unregFails = "busy"},
        {.argv = {"p", "--disable"}, .state = 1, .unreg = 1, .unregFails = "refusé"},
        // Anything else: exit 2 with one line, touching nothing; --help is the usage.
        {.argv = {"p", "--help"}, .state = 1, .out = "usage: brivane-sensor-companion"},
        {.argv = {"p", "--enable", "--install"},
         .state = 1,
         .status = 2,
         .err = "give one argument at most, not 2; valid: --status"},
        {.argv = {"p", "--instal"},
         .state = 1,
         .status = 2,
         .err = "unknown argument \"--instal\" (did you mean --install?); valid:"},
        {.argv = {"p", "enable"}, .state = 1, .status = 2, .err = "(did you mean --enable?)"},
        {.argv = {"p", ""}, .state = 1, .status = 2, .err = "unknown argument \"\"; valid:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.argv) + " in state " + std::to_string(c.state));
        const auto manager = std::make_shared<SimServiceManager>(c.state, bundle);
        manager->setStateAfterRegister(c.after);
        manager->failRegister(c.regFails);
        manager->failUnregister(c.unregFails);
        if (c.shipped)
            manager->addFile(shippedPlist);
        std::ostringstream out, err;
        const int status = runCommandLine(
            c.argv, {[&] {
                         return CompanionRegistration(
                             std::string(CompanionRegistration::defaultPlistName), manager);
                     },
                     [] { return agentStatus; }, out, err});
        const auto failure = c.regFails ? c.regFails : c.unregFails;
        EXPECT_EQ(status, failure ? 1 : c.status);
        EXPECT_TRUE(out.str().starts_with(c.out) &&
                    (c.out.empty() || out.str() == c.out || c.argv.back() == "--help"))
            << out.str();
        if (failure) {
            EXPECT_EQ(err.str(), *failure + "\n");
        } else if (c.err.empty()) {
            EXPECT_TRUE(err.str().empty() || c.argv.size() < 2 || c.argv[1] != "--status")
                << err.str();
        } else {
            EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
            EXPECT_TRUE(err.str().starts_with("brivane-sensor-companion: ")) << err.str();
        }
        const auto& requests = manager->requests();
        EXPECT_EQ(std::tuple(requests.registers, requests.unregisters, requests.settingsOpened),
                  std::tuple(c.reg, c.unreg, c.opened));
    }
}

// Every listener is refused as "already serving": no agent in these cases may get further, and
// each says why in one line.
TEST(AgentStartup, EndsWithStatusTwoBeforeListeningOrWhenTheEndpointIsServed) {
    using Info = std::map<std::string, std::string, std::less<>>;
    const Info team = {{"BrivaneTeamIdentifier", "TEAM1"}},
               noTeam = {{"BrivaneTeamIdentifier", ""}};
    const std::string service = ".dev.qorva.brivane.sensors.snapshot";
    const struct Case {
        const char* name;
        Info info;
        uint32_t uid, euid;
        std::vector<std::string> listenedOn;
        const char* says;
    } cases[] = {
        {"no team", {}, 501, 501, {}, "from its application bundle"},
        {"set-uid", team, 501, 0, {}, "never runs as root or set-uid"},
        {"root", team, 0, 0, {}, "never runs as root or set-uid"},
        {"effective differs", team, 501, 502, {}, "never runs as root or set-uid"},
        {"served", team, 501, 501, {"TEAM1" + service}, "busy; nothing to do"},
        {"served, empty team", noTeam, 501, 501, {service}, "busy; nothing to do"},
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
            return ipc::ListenerCreation{nullptr, ipc::ListenerFailure::alreadyServing, "busy"};
        };
        dependencies.makeService = [&]() -> std::shared_ptr<ipc::BrivaneSensorSnapshotXPC> {
            ++servicesMade;
            return nullptr;
        };
        std::ostringstream err;
        EXPECT_EQ(runAgent(dependencies, err), exitUsage);
        EXPECT_TRUE(err.str().starts_with("brivane-sensor-companion: ") &&
                    err.str().find(c.says) != std::string::npos &&
                    err.str().find('\n') + 1 == err.str().size())
            << err.str();
        EXPECT_EQ(listenedOn, c.listenedOn);
        EXPECT_EQ(servicesMade, 0);
    }
}

} // namespace
} // namespace brivane
