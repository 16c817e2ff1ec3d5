#pragma once

#include "platform/service_manager.h"

#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace brivane::platform::sim {

// An in-memory service manager: a scripted state, requests that succeed or fail as told, and a
// count of what was asked. Registering moves to `stateAfterRegister`, unregistering to 0.
class SimServiceManager final : public ServiceManager {
public:
    struct Requests {
        int stateReads = 0;
        int registers = 0;
        int unregisters = 0;
        int settingsOpened = 0;
    };

    explicit SimServiceManager(int initialState = notRegistered,
                               std::optional<std::string> bundle = std::nullopt);

    int state(const std::string& plistName) override;
    std::optional<ServiceManagerError> registerAgent(const std::string& plistName) override;
    std::optional<ServiceManagerError> unregisterAgent(const std::string& plistName) override;
    void openLoginItemsSettings() override;
    std::optional<std::string> bundleLocation() const override;
    bool fileExists(const std::string& path) const override;

    void setState(int state);
    void setStateAfterRegister(int state);
    void failRegister(std::optional<std::string> description);
    void failUnregister(std::optional<std::string> description);
    void addFile(std::string path);
    Requests requests() const;

private:
    mutable std::mutex mutex_;
    int state_;
    int stateAfterRegister_ = enabled;
    std::optional<std::string> bundle_;
    std::optional<std::string> registerFailure_;
    std::optional<std::string> unregisterFailure_;
    std::set<std::string> files_;
    Requests requests_;
};

} // namespace brivane::platform::sim
