#pragma once

#include "platform/service_manager.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brivane {

using RegistrationError = platform::ServiceManagerError;

// The launch agent's registration with the user's service manager. Holds no state of its own:
// every status read asks the service manager afresh.
class CompanionRegistration {
public:
    enum class Status { disabled, enabled, requiresApproval, unavailable };

    static constexpr std::string_view defaultPlistName = "dev.qorva.brivane.SensorCompanion.plist";

    static std::optional<Status> statusFromRawValue(std::string_view rawValue);
    static std::string_view rawValue(Status status);

    explicit CompanionRegistration(
        std::string plistName = std::string(defaultPlistName),
        std::shared_ptr<platform::ServiceManager> service = platform::makeDefaultServiceManager());

    const std::string& plistName() const { return plistName_; }

    Status status() const;
    // Registered, but the service manager gave up starting it: the status says requiresApproval,
    // since like an unapproved agent it runs only once the user acts (--install recovers it).
    bool failed() const;

    // Each returns the service manager's error, absent on success.
    [[nodiscard]] std::optional<RegistrationError> enable() const;
    [[nodiscard]] std::optional<RegistrationError> disable() const;
    // Registers when needed; with refresh an existing registration is removed and made again so
    // the service manager takes up the current property list.
    [[nodiscard]] std::optional<RegistrationError> enableAtInstall(bool refresh) const;

    void openApprovalSettings() const;
    // The command that approves the agent where there are no settings to open, else empty.
    std::string approvalCommand() const;
    // The command that turns on recording the history, else empty.
    std::string historyCommand() const;

private:
    bool isRegistered() const;

    std::string plistName_;
    std::shared_ptr<platform::ServiceManager> service_;
};

} // namespace brivane
