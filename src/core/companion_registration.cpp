#include "core/companion_registration.h"

#include <array>
#include <utility>

namespace brivane {
namespace {

using Status = CompanionRegistration::Status;

constexpr std::array<std::pair<Status, std::string_view>, 4> rawValues = {{
    {Status::disabled, "disabled"},
    {Status::enabled, "enabled"},
    {Status::requiresApproval, "requiresApproval"},
    {Status::unavailable, "unavailable"},
}};

} // namespace

std::optional<Status> CompanionRegistration::statusFromRawValue(std::string_view rawValue) {
    for (const auto& [status, text] : rawValues) {
        if (text == rawValue) {
            return status;
        }
    }
    return std::nullopt;
}

std::string_view CompanionRegistration::rawValue(Status status) {
    for (const auto& [candidate, text] : rawValues) {
        if (candidate == status) {
            return text;
        }
    }
    return "unavailable";
}

CompanionRegistration::CompanionRegistration(std::string plistName,
                                             std::shared_ptr<platform::ServiceManager> service)
    : plistName_(std::move(plistName)), service_(std::move(service)) {}

Status CompanionRegistration::status() const {
    switch (service_->state(plistName_)) {
    case platform::ServiceManager::notRegistered:
        return Status::disabled;
    case platform::ServiceManager::enabled:
        return Status::enabled;
    case platform::ServiceManager::requiresApproval:
    case platform::ServiceManager::failed:
        return Status::requiresApproval;
    case platform::ServiceManager::notFound: {
        // Not found but shipped in the bundle: it can still be registered.
        const auto bundle = service_->bundleLocation();
        if (bundle &&
            service_->fileExists(*bundle + "/Contents/Library/LaunchAgents/" + plistName_)) {
            return Status::disabled;
        }
        return Status::unavailable;
    }
    default:
        return Status::unavailable;
    }
}

bool CompanionRegistration::failed() const {
    return service_->state(plistName_) == platform::ServiceManager::failed;
}

bool CompanionRegistration::isRegistered() const {
    const auto current = status();
    return current == Status::enabled || current == Status::requiresApproval;
}

std::optional<RegistrationError> CompanionRegistration::enable() const {
    return service_->registerAgent(plistName_);
}

std::optional<RegistrationError> CompanionRegistration::disable() const {
    return service_->unregisterAgent(plistName_);
}

std::optional<RegistrationError> CompanionRegistration::enableAtInstall(bool refresh) const {
    if (refresh && isRegistered()) {
        if (auto failure = service_->unregisterAgent(plistName_)) {
            return failure;
        }
    }
    if (!isRegistered()) {
        return service_->registerAgent(plistName_);
    }
    return std::nullopt;
}

void CompanionRegistration::openApprovalSettings() const {
    service_->openLoginItemsSettings();
}

std::string CompanionRegistration::approvalCommand() const {
    return service_->approvalCommand(plistName_);
}

std::string CompanionRegistration::historyCommand() const {
    return service_->historyCommand();
}

} // namespace brivane
