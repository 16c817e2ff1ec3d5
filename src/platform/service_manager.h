#pragma once

#include <memory>
#include <optional>
#include <string>

namespace brivane::platform {

// A refused register or unregister request, with the text shown to the user.
struct ServiceManagerError {
    std::string description;
};

// The user's service manager, for the one launch agent that a property list in the running
// bundle describes.
class ServiceManager {
public:
    // The raw states a service manager reports.
    static constexpr int notRegistered = 0;
    static constexpr int enabled = 1;
    static constexpr int requiresApproval = 2;
    static constexpr int notFound = 3;
    // Registered, but the manager gave up starting it (too many starts in a row, or a start
    // that failed) and starts it no more on its own; registering afresh recovers it.
    static constexpr int failed = 4;

    virtual ~ServiceManager() = default;

    // One of the states above; other values may occur.
    virtual int state(const std::string& plistName) = 0;
    // Absent on success.
    virtual std::optional<ServiceManagerError> registerAgent(const std::string& plistName) = 0;
    virtual std::optional<ServiceManagerError> unregisterAgent(const std::string& plistName) = 0;
    // Shows where the user approves background items; reports nothing.
    virtual void openLoginItemsSettings() = 0;
    // The command that approves the agent where the platform has no settings to show; empty
    // where openLoginItemsSettings() shows them.
    virtual std::string approvalCommand(const std::string& plistName) {
        (void)plistName;
        return {};
    }
    // The command that turns on the companion's history recorder, which the platform ships
    // turned off; empty where there is none.
    virtual std::string historyCommand() { return {}; }

    // The running bundle's folder, absent outside a bundle, and a file-existence test.
    virtual std::optional<std::string> bundleLocation() const = 0;
    virtual bool fileExists(const std::string& path) const = 0;
};

// The platform's service manager; defined by the back end the executable links.
std::shared_ptr<ServiceManager> makeDefaultServiceManager();

} // namespace brivane::platform
