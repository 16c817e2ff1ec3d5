#include "platform/linux/systemd_service_manager.h"
#include "platform/sim/scripted_tool_runner.h"
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
    SystemdServiceManager manager() {
        return SystemdServiceManager(root_ / "Companion App", root_ / "units", runner_);
    }
    std::string unit(const std::string& name) {
        return root_ / ("units/dev.qorva.brivane.SensorCompanion" + name);
    }

    const testing::TempDir root_{"brivane-units"};
    std::shared_ptr<sim::ScriptedToolRunner> runner_ = std::make_shared<sim::ScriptedToolRunner>();
};

TEST_F(SystemdServiceManagerTest, RegisterWritesUnitsAndStatesFollowTheFiles) {
    root_.write(plistPath, agentPlist);
    auto services = manager();
    EXPECT_EQ(services.state(plistName), ServiceManager::notRegistered);
    EXPECT_EQ(services.state("other.plist"), ServiceManager::notFound);

    ASSERT_FALSE(services.registerAgent(plistName));
    EXPECT_EQ(services.state(plistName), ServiceManager::enabled);
    EXPECT_THAT(contentsOf(unit(".service")),
                HasSubstr("ExecStart=\"" + root_ / "Companion App" +
                          "/Contents/MacOS/brivane-sensor-companion\" \"--agent\"\n"));
    EXPECT_THAT(contentsOf(unit(".socket")),
                HasSubstr("ListenStream=%t/T%%1.dev.qorva.brivane.sensors.snapshot\n"));
    EXPECT_EQ(runner_->calls("/usr/bin/systemctl", {"--user", "daemon-reload"}), 1u);

    // The user turning the unit off leaves it registered, awaiting approval.
    fs::remove(root_ / "units/sockets.target.wants/dev.qorva.brivane.SensorCompanion.socket");
    EXPECT_EQ(services.state(plistName), ServiceManager::requiresApproval);

    ASSERT_FALSE(services.unregisterAgent(plistName));
    EXPECT_EQ(services.state(plistName), ServiceManager::notRegistered);
    EXPECT_FALSE(fs::exists(unit(".socket")));
    const auto again = services.unregisterAgent(plistName);
    EXPECT_EQ(again.value_or(ServiceManagerError{}).description,
              "The launch agent dev.qorva.brivane.SensorCompanion is not registered.");
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

TEST(SystemdUnitFolder, FollowsAnAbsoluteXdgConfigHomeThenHome) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = savedConfig ? savedConfig : "";
    ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
    EXPECT_EQ(SystemdServiceManager::userUnitFolder(), fs::path("/x/config/systemd/user"));
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        EXPECT_EQ(SystemdServiceManager::userUnitFolder(),
                  fs::path(home) / ".config" / "systemd" / "user");
    }
    if (savedConfig) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

} // namespace
} // namespace brivane::platform::linux_backend
