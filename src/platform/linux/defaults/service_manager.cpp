#include "platform/linux/bundle_info_linux.h"
#include "platform/linux/systemd_service_manager.h"
#include "platform/linux/tool_runner_linux.h"

#include <system_error>

namespace brivane::platform {

std::shared_ptr<ServiceManager> makeDefaultServiceManager() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    const auto contents = error ? std::nullopt : linux_backend::bundleContentsOf(executable);
    const auto bundle =
        contents ? std::optional<std::filesystem::path>(contents->parent_path()) : std::nullopt;
    return std::make_shared<linux_backend::SystemdServiceManager>(
        bundle, linux_backend::SystemdServiceManager::userUnitFolder().value_or(""),
        std::make_shared<linux_backend::LinuxToolRunner>());
}

} // namespace brivane::platform
