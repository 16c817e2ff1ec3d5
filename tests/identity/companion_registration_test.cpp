#include "core/command_line.h"
#include "core/companion_registration.h"
#include "platform/sim/sim_service_manager.h"

#include <gtest/gtest.h>
#include <sstream>

namespace brivane {
namespace {

using platform::ServiceManager;
using platform::sim::SimServiceManager;
using Status = CompanionRegistration::Status;

constexpr const char* bundle = "/Applications/Companion.app";
constexpr const char* shippedPlist = "/Applications/Companion.app/Contents/Library/LaunchAgents/"
                                     "dev.qorva.brivane.SensorCompanion.plist";

TEST(RegistrationStatus, ServiceManagerStatesMapToFourStatuses) {
    struct Case {
        int state;
        bool plistShipped;
        Status expected;
    };
    for (const auto& c : {Case{0, false, Status::disabled}, Case{1, false, Status::enabled},
                          Case{2, false, Status::requiresApproval}, Case{3, true, Status::disabled},
                          Case{3, false, Status::unavailable}, Case{7, true, Status::unavailable},
                          Case{-1, true, Status::unavailable}}) {
        const auto manager = std::make_shared<SimServiceManager>(c.state, bundle);
        if (c.plistShipped) {
            manager->addFile(shippedPlist);
        }
        EXPECT_EQ(
            CompanionRegistration(std::string(CompanionRegistration::defaultPlistName), manager)
                .status(),
            c.expected)
            << "state " << c.state;
    }
}

TEST(RegistrationInstall, RequestsFollowRefreshAndCurrentState) {
    struct Case {
        const char* name;
        int state;
        bool refresh;
        int unregisters;
        int registers;
    };
    for (const auto& c : {
             Case{"approval pending, no refresh", ServiceManager::requiresApproval, false, 0, 0},
             Case{"enabled, no refresh", ServiceManager::enabled, false, 0, 0},
             Case{"enabled, refresh", ServiceManager::enabled, true, 1, 1},
             Case{"approval pending, refresh", ServiceManager::requiresApproval, true, 1, 1},
             Case{"disabled, refresh", ServiceManager::notRegistered, true, 0, 1},
             Case{"disabled, no refresh", ServiceManager::notRegistered, false, 0, 1},
             Case{"unknown state", 9, false, 0, 1},
         }) {
        const auto manager = std::make_shared<SimServiceManager>(c.state, bundle);
        const CompanionRegistration registration("x.plist", manager);
        EXPECT_FALSE(registration.enableAtInstall(c.refresh)) << c.name;
        EXPECT_EQ(manager->requests().unregisters, c.unregisters) << c.name;
        EXPECT_EQ(manager->requests().registers, c.registers) << c.name;
    }
}

TEST(RegistrationInstall, FailuresArePassedOnAndAFailedUnregisterStopsTheSequence) {
    const auto manager = std::make_shared<SimServiceManager>(ServiceManager::enabled, bundle);
    manager->failUnregister("busy");
    const CompanionRegistration registration("x.plist", manager);
    const auto failure = registration.enableAtInstall(true);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, "busy");
    EXPECT_EQ(manager->requests().registers, 0);

    const auto unavailable = std::make_shared<SimServiceManager>(ServiceManager::notFound);
    unavailable->failRegister("no such agent");
    const auto registerFailure =
        CompanionRegistration("x.plist", unavailable).enableAtInstall(false);
    ASSERT_TRUE(registerFailure);
    EXPECT_EQ(registerFailure->description, "no such agent");
    EXPECT_EQ(unavailable->requests().registers, 1);
}

struct Run {
    int status;
    std::string out;
    std::string err;
    SimServiceManager::Requests requests;
    int finalState;
    int agentRuns;
};

Run runWith(std::vector<std::string> argumentVector, int state, int stateAfterRegister = 1,
            std::optional<std::string> registerFailure = {},
            std::optional<std::string> unregisterFailure = {}) {
    const auto manager = std::make_shared<SimServiceManager>(state, bundle);
    manager->setStateAfterRegister(stateAfterRegister);
    manager->failRegister(registerFailure);
    manager->failUnregister(unregisterFailure);
    std::ostringstream out;
    std::ostringstream err;
    int agentRuns = 0;
    const int status = runCommandLine(
        argumentVector, {[&] {
                             return CompanionRegistration(
                                 std::string(CompanionRegistration::defaultPlistName), manager);
                         },
                         [&] {
                             ++agentRuns;
                             return 0;
                         },
                         out, err});
    return {status, out.str(), err.str(), manager->requests(), manager->state(""), agentRuns};
}

TEST(CommandLine, UnrecognisedListsExitTwoSilentlyAndTouchNothing) {
    for (const auto& list : std::vector<std::vector<std::string>>{{"p", "--enable", "--install"},
                                                                  {"p", "--Enable"},
                                                                  {"p", "enable"},
                                                                  {"p", "--status", "--status"},
                                                                  {"p", ""},
                                                                  {"p", "--disable", "x"},
                                                                  {"p", "-h"}}) {
        const auto run = runWith(list, ServiceManager::enabled);
        EXPECT_EQ(run.status, 2) << list[1];
        EXPECT_EQ(run.out + run.err, "") << list[1];
        EXPECT_EQ(run.requests.registers + run.requests.unregisters, 0) << list[1];
        EXPECT_EQ(run.agentRuns, 0);
    }
    EXPECT_EQ(runWith({"p", "--agent"}, 0).agentRuns, 1);
}

TEST(CommandLine, RegistrationFormsPrintStatusAndFollowTheApprovalRule) {
    struct Case {
        const char* name;
        std::vector<std::string> argumentVector;
        int state;
        int stateAfterRegister;
        std::string out;
        int registers;
        int unregisters;
        int settingsOpened;
    };
    for (const auto& c : {
             Case{"status", {"p", "--status"}, 2, 1, "requiresApproval\n", 0, 0, 0},
             Case{"none while enabled", {"p"}, 1, 1, "enabled\n", 0, 0, 0},
             Case{
                 "enable needing approval", {"p", "--enable"}, 0, 2, "requiresApproval\n", 1, 0, 1},
             Case{"install while enabled", {"p", "--install"}, 1, 2, "requiresApproval\n", 1, 1, 0},
             Case{"install from disabled", {"p", "--install"}, 0, 1, "enabled\n", 1, 0, 0},
             Case{"program path is --install", {"--install"}, 1, 2, "requiresApproval\n", 1, 1, 0},
             Case{"empty vector", {}, 0, 1, "enabled\n", 1, 0, 0},
         }) {
        const auto run = runWith(c.argumentVector, c.state, c.stateAfterRegister);
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
        EXPECT_EQ(run.err, "") << c.name;
        EXPECT_EQ(run.requests.registers, c.registers) << c.name;
        EXPECT_EQ(run.requests.unregisters, c.unregisters) << c.name;
        EXPECT_EQ(run.requests.settingsOpened, c.settingsOpened) << c.name;
    }
}

TEST(CommandLine, FailuresGoToStandardErrorWithExitOne) {
    const auto enable = runWith({"p", "--enable"}, 0, 1, std::string("Operation not permitted"));
    EXPECT_EQ(enable.status, 1);
    EXPECT_EQ(enable.out, "");
    EXPECT_EQ(enable.err, "Operation not permitted\n");

    const auto disable = runWith({"p", "--disable"}, 1, 1, {}, std::string("refusé"));
    EXPECT_EQ(disable.status, 1);
    EXPECT_EQ(disable.out, "");
    EXPECT_EQ(disable.err, "refusé\n");

    const auto disabled = runWith({"p", "--disable"}, 1);
    EXPECT_EQ(disabled.status, 0);
    EXPECT_EQ(disabled.out + disabled.err, "");
    EXPECT_EQ(disabled.finalState, ServiceManager::notRegistered);
}

} // namespace
} // namespace brivane
