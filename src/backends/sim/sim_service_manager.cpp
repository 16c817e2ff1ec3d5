#include "backends/sim/sim_service_manager.h"

namespace brivane::platform::sim {

SimServiceManager::SimServiceManager(int initialState, std::optional<std::string> bundle)
    : state_(initialState), bundle_(std::move(bundle)) {}

int SimServiceManager::state(const std::string&) {
    std::lock_guard lock(mutex_);
    ++requests_.stateReads;
    return state_;
}

std::optional<ServiceManagerError> SimServiceManager::registerAgent(const std::string&) {
    std::lock_guard lock(mutex_);
    ++requests_.registers;
    if (registerFailure_) {
        return ServiceManagerError{*registerFailure_};
    }
    state_ = stateAfterRegister_;
    return std::nullopt;
}

std::optional<ServiceManagerError> SimServiceManager::unregisterAgent(const std::string&) {
    std::lock_guard lock(mutex_);
    ++requests_.unregisters;
    if (unregisterFailure_) {
        return ServiceManagerError{*unregisterFailure_};
    }
    state_ = notRegistered;
    return std::nullopt;
}

void SimServiceManager::openLoginItemsSettings() {
    std::lock_guard lock(mutex_);
    ++requests_.settingsOpened;
}

std::optional<std::string> SimServiceManager::bundleLocation() const {
    std::lock_guard lock(mutex_);
    return bundle_;
}

bool SimServiceManager::fileExists(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return files_.contains(path);
}

void SimServiceManager::setState(int state) {
    std::lock_guard lock(mutex_);
    state_ = state;
}

void SimServiceManager::setStateAfterRegister(int state) {
    std::lock_guard lock(mutex_);
    stateAfterRegister_ = state;
}

void SimServiceManager::failRegister(std::optional<std::string> description) {
    std::lock_guard lock(mutex_);
    registerFailure_ = std::move(description);
}

void SimServiceManager::failUnregister(std::optional<std::string> description) {
    std::lock_guard lock(mutex_);
    unregisterFailure_ = std::move(description);
}

void SimServiceManager::addFile(std::string path) {
    std::lock_guard lock(mutex_);
    files_.insert(std::move(path));
}

SimServiceManager::Requests SimServiceManager::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

} // namespace brivane::platform::sim
