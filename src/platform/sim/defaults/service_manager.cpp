#include "platform/linux/bundle_info_linux.h"
#include "platform/sim/sim_service_manager.h"

#include <filesystem>
#include <system_error>

namespace brivane::platform {

// The simulated machine has no user manager: registration lives for one run, with the bundle's
// property list visible so an unregistered agent reads as disabled.
std::shared_ptr<ServiceManager> makeDefaultServiceManager() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    const auto contents = error ? std::nullopt : linux_backend::bundleContentsOf(executable);
    if (!contents) {
        return std::make_shared<sim::SimServiceManager>(ServiceManager::notFound);
    }
    const auto bundle = contents->parent_path().string();
    auto manager = std::make_shared<sim::SimServiceManager>(ServiceManager::notRegistered, bundle);
    return manager;
}

} // namespace brivane::platform
