#include "platform/linux/systemd_service_manager.h"
#include "platform/sim/scripted_tool_runner.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace brivane::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

constexpr const char* plistName = "dev.qorva.brivane.SensorCompanion.plist";
constexpr const char* agentPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>Label</key><string>dev.qorva.brivane.SensorCompanion</string>
<key>BundleProgram</key><string>Contents/MacOS/brivane-sensor-companion</string>
<key>ProgramArguments</key><array>
<string>Contents/MacOS/brivane-sensor-companion</string><string>--agent</string></array>
<key>MachServices</key><dict><key>T%1.dev.qorva.brivane.sensors.snapshot</key><true/></dict>
</dict></plist>)";

std::string contentsOf(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

class SystemdServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle_ = fs::path(root_.path()) / "Brivane Sensor Companion.app";
        units_ = fs::path(root_.path()) / "config" / "systemd" / "user";
        fs::create_directories(bundle_ / "Contents" / "Library" / "LaunchAgents");
        writePlist(agentPlist);
    }

    void writePlist(const std::string& text) {
        std::ofstream(bundle_ / "Contents" / "Library" / "LaunchAgents" / plistName) << text;
    }

    SystemdServiceManager manager() { return SystemdServiceManager(bundle_, units_, runner_); }

    const brivane::testing::TempDir root_{"brivane-units"};
    fs::path bundle_, units_;
    std::shared_ptr<sim::ScriptedToolRunner> runner_ = std::make_shared<sim::ScriptedToolRunner>();
};

TEST_F(SystemdServiceManagerTest, RegisterWritesUnitsAndStatesFollowTheFiles) {
    auto services = manager();
    EXPECT_EQ(services.state(plistName), ServiceManager::notRegistered);
    EXPECT_EQ(services.state("other.plist"), ServiceManager::notFound);

    ASSERT_FALSE(services.registerAgent(plistName));
    EXPECT_EQ(services.state(plistName), ServiceManager::enabled);
    const auto service = contentsOf(units_ / "dev.qorva.brivane.SensorCompanion.service");
    EXPECT_NE(service.find("ExecStart=\"" + bundle_.string() +
                           "/Contents/MacOS/brivane-sensor-companion\" \"--agent\"\n"),
              std::string::npos)
        << service;
    const auto socket = contentsOf(units_ / "dev.qorva.brivane.SensorCompanion.socket");
    EXPECT_NE(socket.find("ListenStream=%t/T%%1.dev.qorva.brivane.sensors.snapshot\n"),
              std::string::npos)
        << socket;
    EXPECT_EQ(runner_->calls("/usr/bin/systemctl", {"--user", "daemon-reload"}), 1u);

    // The user turning the unit off leaves it registered, awaiting approval.
    fs::remove(units_ / "sockets.target.wants" / "dev.qorva.brivane.SensorCompanion.socket");
    EXPECT_EQ(services.state(plistName), ServiceManager::requiresApproval);

    ASSERT_FALSE(services.unregisterAgent(plistName));
    EXPECT_EQ(services.state(plistName), ServiceManager::notRegistered);
    EXPECT_FALSE(fs::exists(units_ / "dev.qorva.brivane.SensorCompanion.socket"));
    const auto again = services.unregisterAgent(plistName);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->description, "The launch agent dev.qorva.brivane.SensorCompanion is not "
                                  "registered.");
}

TEST_F(SystemdServiceManagerTest, UnusablePropertyListsAreNotFoundAndRefuseRegistration) {
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
        writePlist(text);
        auto services = manager();
        EXPECT_TRUE(services.registerAgent(plistName)) << text;
        EXPECT_NE(services.state(plistName), ServiceManager::enabled) << text;
        EXPECT_FALSE(fs::exists(units_ / "ok.service")) << text;
    }
    fs::remove_all(bundle_);
    EXPECT_EQ(manager().state(plistName), ServiceManager::notFound);
    EXPECT_TRUE(manager().registerAgent(plistName));
}

TEST(SystemdUnitFolder, FollowsXdgConfigHomeThenHome) {
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
