#pragma once

#include "backends/linux/service/launch_agent.h"
#include "platform/service_manager.h"
#include "platform/tool_runner.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// Stands in for the platform's service manager with systemd user units: <Label>.service and
// <Label>.socket, enabled through the socket's wants link in the user's unit folder. The units
// are the package's when it ships them where systemd looks, else written into the user's unit
// folder. States are read from the files; registering and unregistering need a reachable user
// manager and change nothing without one. Registering asks it to reload and to start the
// socket, and whatever registering wrote is taken back when a step fails; a registration that
// an unregistering just took away (registering afresh) is then put back as it was.
class SystemdServiceManager final : public ServiceManager {
public:
    // packagedFolder: where the package ships the agent's units, if anywhere; systemctl: the
    // absolute path of the tool that speaks to the user's manager.
    SystemdServiceManager(std::optional<std::filesystem::path> bundle,
                          std::filesystem::path unitFolder, std::shared_ptr<ToolRunner> runner,
                          std::optional<std::filesystem::path> packagedFolder = std::nullopt,
                          std::string systemctl = "/usr/bin/systemctl");

    // $XDG_CONFIG_HOME/systemd/user when XDG_CONFIG_HOME is absolute, else
    // $HOME/.config/systemd/user; absent when neither is usable.
    static std::optional<std::filesystem::path> userUnitFolder();
    // <prefix>/lib/systemd/user for a bundle installed in <prefix>/lib/brivane, when systemd
    // looks for user units there (prefix /usr or /usr/local).
    static std::optional<std::filesystem::path>
    packagedUnitFolder(const std::filesystem::path& bundle);
    // The user's own systemctl, found as a shell finds it (registering runs with the user's
    // rights alone, and a test can stand in for the manager on PATH); else /usr/bin/systemctl.
    static std::string systemctlOnPath();

    int state(const std::string& plistName) override;
    std::optional<ServiceManagerError> registerAgent(const std::string& plistName) override;
    std::optional<ServiceManagerError> unregisterAgent(const std::string& plistName) override;
    void openLoginItemsSettings() override {}
    std::string approvalCommand(const std::string& plistName) override;
    std::string historyCommand() override;
    std::optional<std::string> bundleLocation() const override;
    bool fileExists(const std::string& path) const override;

    static constexpr double systemctlTimeLimit = 5.0;

private:
    // A file or link unregistering took away: its text, or the link's target.
    struct Taken {
        std::filesystem::path path;
        std::string text;
        std::optional<std::filesystem::path> target;
    };

    std::optional<LaunchAgentDescription> agent(const std::string& plistName) const;
    // Why the user's manager cannot be asked, with what that leaves as it was; none when it can.
    std::optional<ServiceManagerError> unreachable(const std::string& unchanged);
    std::optional<ServiceManagerError> registerFresh(const std::string& plistName);
    void putBackTaken();
    bool shipsUnits(const LaunchAgentDescription& agent) const;
    std::optional<ServiceManagerError> writeAndEnable(const LaunchAgentDescription& agent);
    // Whether systemctl --user ran and succeeded; nullopt when it could not be started.
    std::optional<bool> systemctl(std::vector<std::string> arguments);

    std::optional<std::filesystem::path> bundle_;
    std::filesystem::path unitFolder_;
    std::shared_ptr<ToolRunner> runner_;
    std::optional<std::filesystem::path> packagedFolder_;
    std::string systemctl_;
    std::vector<Taken> taken_;
};

} // namespace brivane::platform::linux_backend
