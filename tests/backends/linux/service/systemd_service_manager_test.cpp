#include "backends/linux/service/systemd_service_manager.h"
#include "backends/linux/service/systemd_unit_text.h"
#include "backends/posix/system/xdg_workspace.h"
#include "backends/sim/scripted_tool_runner.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>

namespace brivane::platform::linux_backend {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr const char* plistName = "dev.qorva.brivane.SensorCompanion.plist";
constexpr const char* plistPath = "Companion App/Contents/Library/LaunchAgents/"
                                  "dev.qorva.brivane.SensorCompanion.plist";
constexpr const char* agentPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>Label</key><string>dev.qorva.brivane.SensorCompanion</string>
<key>BundleProgram</key><string>Contents/MacOS/brivane-sensor-companion</string>
<key>ProgramArguments</key><array>
<string>Contents/MacOS/brivane-sensor-companion</string><string>--agent</string></array>
<key>MachServices</key><dict><key>T%1.dev.qorva.brivane.sensors.snapshot</key><true/></dict>
</dict></plist>)";

std::string contentsOf(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

class SystemdServiceManagerTest : public ::testing::Test {
protected:
    SystemdServiceManager manager(const std::string& bundle = "Companion App",
                                  std::optional<fs::path> packaged = std::nullopt) {
        return SystemdServiceManager(root_ / bundle, root_ / "units", runner_, packaged);
    }
    std::string unit(const std::string& name) {
        return root_ / ("units/dev.qorva.brivane.SensorCompanion" + name);
    }
    // A user manager that takes every call the registration makes.
    void managerAnswers() {
        for (const std::vector<std::string>& call :
             {std::vector<std::string>{"--user", "show-environment"},
              {"--user", "daemon-reload"},
              {"--user", "start", "dev.qorva.brivane.SensorCompanion.socket"}}) {
            runner_->answer("/usr/bin/systemctl", call, 0, "");
        }
    }

    const testing::TempDir root_{"brivane-units"};
    std::shared_ptr<sim::ScriptedToolRunner> runner_ = std::make_shared<sim::ScriptedToolRunner>();
};

TEST_F(SystemdServiceManagerTest, RegisterWritesUnitsAndStatesFollowTheFiles) {
    root_.write(plistPath, agentPlist);
    managerAnswers();
    // A link planted where a temporary might go is never written through.
    root_.write("victim", "mine");
    root_.symlink("units/dev.qorva.brivane.SensorCompanion.service.tmp", root_ / "victim");
    auto services = manager();
    EXPECT_EQ(services.state(plistName), ServiceManager::notRegistered);
    EXPECT_EQ(services.state("other.plist"), ServiceManager::notFound);

    ASSERT_FALSE(services.registerAgent(plistName));
    EXPECT_EQ(services.state(plistName), ServiceManager::enabled);
    EXPECT_EQ(contentsOf(root_ / "victim"), "mine");
    EXPECT_THAT(contentsOf(unit(".service")),
                HasSubstr("ExecStart=\"" + root_ / "Companion App" +
                          "/Contents/MacOS/brivane-sensor-companion\" \"--agent\"\n"));
    EXPECT_THAT(contentsOf(unit(".socket")),
                HasSubstr("ListenStream=%t/T%%1.dev.qorva.brivane.sensors.snapshot\n"));
    EXPECT_EQ(runner_->calls("/usr/bin/systemctl",
                             {"--user", "start", "dev.qorva.brivane.SensorCompanion.socket"}),
              1u);
    // A socket that hit its start limit is failed until registering afresh resets it.
    const std::vector<std::string> isFailed = {"--user", "is-failed", "--quiet",
                                               "dev.qorva.brivane.SensorCompanion.socket"};
    runner_->answer("/usr/bin/systemctl", isFailed, 0, "");
    EXPECT_EQ(services.state(plistName), ServiceManager::failed);
    ASSERT_FALSE(services.registerAgent(plistName));
    EXPECT_EQ(runner_->calls("/usr/bin/systemctl",
                             {"--user", "reset-failed", "dev.qorva.brivane.SensorCompanion.socket",
                              "dev.qorva.brivane.SensorCompanion.service"}),
              2u);
    runner_->answer("/usr/bin/systemctl", isFailed, 1, "");
    EXPECT_EQ(services.state(plistName), ServiceManager::enabled);

    // The user turning the unit off leaves it registered, awaiting approval.
    fs::remove(root_ / "units/sockets.target.wants/dev.qorva.brivane.SensorCompanion.socket");
    EXPECT_EQ(services.state(plistName), ServiceManager::requiresApproval);
    EXPECT_EQ(services.approvalCommand(plistName),
              "systemctl --user enable --now dev.qorva.brivane.SensorCompanion.socket");

    ASSERT_FALSE(services.unregisterAgent(plistName));
    EXPECT_EQ(services.state(plistName), ServiceManager::notRegistered);
    EXPECT_FALSE(fs::exists(unit(".socket")));
    const auto again = services.unregisterAgent(plistName);
    EXPECT_EQ(again.value_or(ServiceManagerError{}).description,
              "The launch agent dev.qorva.brivane.SensorCompanion is not registered.");
}

// Registering tells the truth: when the manager cannot take the agent, it fails with what to do
// and leaves no units behind.
TEST_F(SystemdServiceManagerTest, RegistrationThatCannotTakeEffectFailsAndLeavesNothing) {
    const struct Case {
        const char* name;
        std::vector<int> answers; // show-environment's status, then daemon-reload's
        const char* says;
        bool folderAtLink = false;
        const char* bundle = "Companion App";
    } cases[] = {
        {"no user manager", {1}, "loginctl enable-linger"},
        {"socket does not start", {0, 0}, "could not start dev.qorva.brivane.SensorCompanion"},
        {"a folder at the link", {}, "is in the way of enabling the agent", true},
        {"quote in the bundle path", {}, "to a path without quotes", false, "Compan\"ion App"},
    };
    const std::vector<std::string> calls[] = {{"--user", "show-environment"},
                                              {"--user", "daemon-reload"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TempDir root("brivane-units");
        auto runner = std::make_shared<sim::ScriptedToolRunner>();
        for (std::size_t call = 0; call < c.answers.size(); ++call) {
            runner->answer("/usr/bin/systemctl", calls[call], c.answers[call], "");
        }
        root.write(std::string(c.bundle) + "/Contents/Library/LaunchAgents/" + plistName,
                   agentPlist);
        if (c.folderAtLink) {
            root.write("units/sockets.target.wants/dev.qorva.brivane.SensorCompanion.socket/x", "");
        }
        SystemdServiceManager services(root / c.bundle, root / "units", runner);
        const auto refused = services.registerAgent(plistName);
        ASSERT_TRUE(refused);
        EXPECT_THAT(refused->description, HasSubstr(c.says));
        EXPECT_FALSE(fs::exists(root / "units/dev.qorva.brivane.SensorCompanion.service"));
        EXPECT_FALSE(fs::exists(root / "units/dev.qorva.brivane.SensorCompanion.socket"));
        EXPECT_NE(services.state(plistName), ServiceManager::enabled);
    }
}

// Registering afresh is unregistering, then registering. Without a reachable manager neither
// changes a file, and both say so; a manager lost between the two gets the old units back.
TEST_F(SystemdServiceManagerTest, AnUnreachableManagerLeavesTheRegistrationAsItWas) {
    root_.write(plistPath, agentPlist);
    managerAnswers();
    auto services = manager();
    ASSERT_FALSE(services.registerAgent(plistName));
    const auto unitBefore = contentsOf(unit(".service"));
    for (const int answers : {0, 1}) {
        SCOPED_TRACE(answers);
        int left = answers; // the manager answers this many times, then no more
        runner_->respond("/usr/bin/systemctl", {"--user", "show-environment"}, [&] {
            return ToolResult{std::nullopt, left-- > 0 ? 0 : 1, "", 1};
        });
        auto refused = services.unregisterAgent(plistName);
        if (!refused) {
            refused = services.registerAgent(plistName);
        }
        ASSERT_TRUE(refused);
        EXPECT_THAT(refused->description,
                    HasSubstr(answers == 0 ? "nothing was changed" : "is back in place"));
        EXPECT_EQ(services.state(plistName), ServiceManager::enabled);
        EXPECT_EQ(contentsOf(unit(".service")), unitBefore);
    }
}

// Units the package ships serve every user: registering enables them and writes none.
TEST_F(SystemdServiceManagerTest, ThePackagesUnitsAreEnabledWhenShipped) {
    root_.write(plistPath, agentPlist);
    root_.writeFiles("packaged", "dev.qorva.brivane.SensorCompanion.service=[Service];"
                                 "dev.qorva.brivane.SensorCompanion.socket=[Socket]");
    managerAnswers();
    auto services = manager("Companion App", root_ / "packaged");
    ASSERT_FALSE(services.registerAgent(plistName));
    EXPECT_EQ(services.state(plistName), ServiceManager::enabled);
    EXPECT_FALSE(fs::exists(unit(".service")));
    EXPECT_EQ(fs::read_symlink(root_ / "units/sockets.target.wants/"
                                       "dev.qorva.brivane.SensorCompanion.socket"),
              root_ / "packaged/dev.qorva.brivane.SensorCompanion.socket");
    ASSERT_FALSE(services.unregisterAgent(plistName));
    EXPECT_EQ(services.state(plistName), ServiceManager::notRegistered);
    EXPECT_TRUE(fs::exists(root_ / "packaged/dev.qorva.brivane.SensorCompanion.socket"));
    EXPECT_EQ(SystemdServiceManager::packagedUnitFolder("/usr/lib/brivane/B.app"),
              fs::path("/usr/lib/systemd/user"));
    EXPECT_FALSE(SystemdServiceManager::packagedUnitFolder("/opt/x/lib/brivane/B.app"));
}

TEST_F(SystemdServiceManagerTest, UnusablePropertyListsRefuseRegistration) {
    for (const std::string& text : {
             std::string("not a property list"),
             std::string("<plist><dict><key>Label</key><string>a b</string>"
                         "<key>ProgramArguments</key><array><string>x</string></array>"
                         "</dict></plist>"),
             std::string("<plist><dict><key>Label</key><string>ok</string></dict></plist>"),
             std::string("<plist><dict><key>Label</key><string>ok</string><key>ProgramArguments"
                         "</key><array><string>x</string></array><key>MachServices</key><dict>"
                         "<key>../escape</key><true/></dict></dict></plist>"),
         }) {
        SCOPED_TRACE(text);
        root_.write(plistPath, text);
        auto services = manager();
        EXPECT_TRUE(services.registerAgent(plistName));
        EXPECT_NE(services.state(plistName), ServiceManager::enabled);
        EXPECT_FALSE(fs::exists(root_ / "units/ok.service"));
    }
    fs::remove_all(root_ / "Companion App");
    EXPECT_EQ(manager().state(plistName), ServiceManager::notFound);
    EXPECT_TRUE(manager().registerAgent(plistName));
}

// Relative XDG values are invalid and ignored; HOME is the fallback.
TEST(UserFolders, FollowAnAbsoluteXdgVariableElseHome) {
    std::vector<std::pair<std::string, std::optional<std::string>>> kept;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        const char* value = std::getenv(name);
        kept.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    const posix::XdgWorkspace workspace;
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
    ::setenv("XDG_CACHE_HOME", "/x/cache", 1);
    EXPECT_EQ(SystemdServiceManager::userUnitFolder(), fs::path("/x/config/systemd/user"));
    EXPECT_EQ(workspace.userCachesDirectory(), "/x/cache");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1);
    EXPECT_EQ(SystemdServiceManager::userUnitFolder(),
              fs::path("/home/someone/.config/systemd/user"));
    EXPECT_EQ(workspace.userCachesDirectory(), "/home/someone/.cache");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(workspace.userCachesDirectory(), "/home/someone/.cache");
    for (const auto& [name, value] : kept) {
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
}

// What systemd would run, quoted so that blanks, '$' and '%' reach the agent unchanged; a path
// systemd refuses to run (a quote or a backslash in it) gives no unit at all.
TEST(SystemdUnitText, QuotesWhatSystemdCanRunAndRefusesTheRest) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"/opt/a b$x;(&)*%/agent", "--agent"}, R"("/opt/a b$x;(&)*%%/agent" "--agent")"},
        {{"/opt/agent", "$HOME 100%"}, R"("/opt/agent" "$$HOME 100%%")"},
        {{"/opt/it's/agent", "--agent"}, nullptr},
        {{"/opt/a\\b/agent", "--agent"}, nullptr},
    };
    for (const auto& [arguments, execStart] : cases) {
        SCOPED_TRACE(arguments.front());
        const auto text = serviceUnitText({"dev.qorva.brivane.SensorCompanion", arguments, {"s"}});
        ASSERT_EQ(text.has_value(), execStart != nullptr);
        if (text) {
            EXPECT_THAT(*text, HasSubstr("\nExecStart=" + std::string(execStart) + "\n"));
        }
    }
    // The session's loader variables never reach the agent.
    EXPECT_THAT(*serviceUnitText({"L", {"/a"}, {"s"}}),
                HasSubstr("\nUnsetEnvironment=LD_PRELOAD LD_AUDIT LD_LIBRARY_PATH "));
    // A stopped socket leaves no file in the runtime folder.
    EXPECT_THAT(*socketUnitText({"L", {"/a"}, {"s"}}), HasSubstr("\nRemoveOnStop=yes\n"));
}

} // namespace
} // namespace brivane::platform::linux_backend
