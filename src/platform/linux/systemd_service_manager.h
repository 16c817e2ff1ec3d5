#pragma once

#include "platform/linux/launch_agent.h"
#include "platform/service_manager.h"
#include "platform/tool_runner.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace brivane::platform::linux_backend {

// Stands in for the platform's service manager with systemd user units: <Label>.service and
// <Label>.socket in the user's unit folder, enabled through the socket's wants link. States are
// read from the files, so they hold on a machine without a running user manager; systemctl is
// only asked, best effort and time-bounded, to reload and start or stop.
class SystemdServiceManager final : public ServiceManager {
public:
    SystemdServiceManager(std::optional<std::filesystem::path> bundle,
                          std::filesystem::path unitFolder, std::shared_ptr<ToolRunner> runner);

    // $XDG_CONFIG_HOME/systemd/user when XDG_CONFIG_HOME is absolute, else
    // $HOME/.config/systemd/user; absent when neither is usable.
    static std::optional<std::filesystem::path> userUnitFolder();

    int state(const std::string& plistName) override;
    std::optional<ServiceManagerError> registerAgent(const std::string& plistName) override;
    std::optional<ServiceManagerError> unregisterAgent(const std::string& plistName) override;
    void openLoginItemsSettings() override {}
    std::optional<std::string> bundleLocation() const override;
    bool fileExists(const std::string& path) const override;

    static constexpr double systemctlTimeLimit = 5.0;

private:
    std::optional<LaunchAgentDescription> agent(const std::string& plistName) const;
    void systemctl(std::vector<std::string> arguments);

    std::optional<std::filesystem::path> bundle_;
    std::filesystem::path unitFolder_;
    std::shared_ptr<ToolRunner> runner_;
};

} // namespace brivane::platform::linux_backend
