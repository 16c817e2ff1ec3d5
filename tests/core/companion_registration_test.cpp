#include "core/command_line.h"
#include "core/companion_registration.h"
#include "platform/sim/sim_service_manager.h"

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
// fails each step with `fails`; `shipped`: the bundle carries the agent's property list. A failed
// step ends the sequence and exits 1 with its text on standard error.
struct Case {
    std::vector<std::string> argv;
    int state;
    std::string out = "";
    int registers = 0, unregisters = 0, settingsOpened = 0;
    int after = ServiceManager::enabled;
    bool shipped = false;
    std::optional<std::string> fails = {};
    int status = 0;
};

TEST(CommandLine, RegistrationFormsAskTheServiceManagerAndReportTheOutcome) {
    const auto version = std::string("brivane-sensor-companion ") + BRIVANE_VERSION + "\n";
    const std::string approval = "requiresApproval\n", enabled = "enabled\n";
    const std::vector<std::string> enable = {"p", "--enable"}, install = {"p", "--install"};
    const Case cases[] = {
        {{"p", "--status"}, 0, "disabled\n"},
        {{"p", "--status"}, 2, approval},
        {{"p", "--status"}, 3, "disabled\n", 0, 0, 0, 1, true},
        {{"p", "--status"}, 3, "unavailable\n"},
        {{"p", "--status"}, 7, "unavailable\n", 0, 0, 0, 1, true},
        {{"p", "--status"}, -1, "unavailable\n", 0, 0, 0, 1, true},
        {{"p", "--version"}, 1, version},
        {{"p", "--agent"}, 0, "", 0, 0, 0, 1, false, {}, agentStatus},
        // Enabling registers only what is not registered; approval is asked for, not installs.
        {{"p"}, 1, enabled},
        {{}, 0, enabled, 1},
        {enable, unknownState, enabled, 1},
        {enable, 0, approval, 1, 0, 1, 2},
        {enable, 2, approval, 0, 0, 1},
        // Installing registers afresh.
        {install, 0, enabled, 1},
        {install, 2, enabled, 1, 1},
        {install, 1, approval, 1, 1, 0, 2},
        {{"--install"}, 1, enabled, 1, 1},
        {{"p", "--disable"}, 1, "", 0, 1},
        // A failed step ends the sequence.
        {enable, 0, "", 1, 0, 0, 1, false, "denied"},
        {{"p"}, 3, "", 1, 0, 0, 1, false, "no such agent"},
        {install, 1, "", 0, 1, 0, 1, false, "busy"},
        {{"p", "--disable"}, 1, "", 0, 1, 0, 1, false, "refusé"},
        // Anything else: exit 2, silently, touching nothing.
        {{"p", "--enable", "--install"}, 1, "", 0, 0, 0, 1, false, {}, 2},
        {{"p", "--Enable"}, 1, "", 0, 0, 0, 1, false, {}, 2},
        {{"p", "enable"}, 1, "", 0, 0, 0, 1, false, {}, 2},
        {{"p", "--status", "--status"}, 1, "", 0, 0, 0, 1, false, {}, 2},
        {{"p", ""}, 1, "", 0, 0, 0, 1, false, {}, 2},
        {{"p", "--disable", "x"}, 1, "", 0, 0, 0, 1, false, {}, 2},
        {{"p", "-h"}, 1, "", 0, 0, 0, 1, false, {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.argv) + " in state " + std::to_string(c.state));
        const auto manager = std::make_shared<SimServiceManager>(c.state, bundle);
        manager->setStateAfterRegister(c.after);
        manager->failRegister(c.fails);
        manager->failUnregister(c.fails);
        if (c.shipped) {
            manager->addFile(shippedPlist);
        }
        std::ostringstream out, err;
        const int status = runCommandLine(
            c.argv, {[&] {
                         return CompanionRegistration(
                             std::string(CompanionRegistration::defaultPlistName), manager);
                     },
                     [] { return agentStatus; }, out, err});
        EXPECT_EQ(status, c.fails ? 1 : c.status);
        EXPECT_EQ(out.str(), c.out);
        EXPECT_EQ(err.str(), c.fails ? *c.fails + "\n" : "");
        EXPECT_EQ(manager->requests().registers, c.registers);
        EXPECT_EQ(manager->requests().unregisters, c.unregisters);
        EXPECT_EQ(manager->requests().settingsOpened, c.settingsOpened);
    }
}

} // namespace
} // namespace brivane
