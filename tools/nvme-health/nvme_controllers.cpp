#include "nvme_controllers.h"

namespace brivane::system_tools {

using platform::posix::RootedDirectory;
using platform::posix::withoutNewline;

bool runtimeSuspended(const RootedDirectory& device) {
    const auto status = device.readText("power/runtime_status", 64);
    return status && withoutNewline(*status) == "suspended";
}

std::vector<std::string> awakeNvmeControllers(const RootedDirectory& sys) {
    std::vector<std::string> awake;
    const auto controllers = sys.subdirectory("class/nvme");
    for (auto& name : controllers.list(".")) {
        const auto controller = controllers.subdirectory(name.c_str());
        const auto state = controller.readText("state", 64);
        if (name.starts_with("nvme") && state && withoutNewline(*state) == "live" &&
            !runtimeSuspended(controller.subdirectory("device"))) {
            awake.push_back(std::move(name));
        }
    }
    return awake;
}

std::optional<std::string> nvmeControllerOf(const RootedDirectory& sys,
                                            const std::string& kernelName) {
    if (!kernelName.starts_with("nvme")) {
        return std::nullopt;
    }
    const auto target = sys.linkTarget(("block/" + kernelName + "/device").c_str());
    if (!target) {
        return std::nullopt;
    }
    auto name = target->substr(target->rfind('/') + 1);
    if (!name.starts_with("nvme") ||
        name.find_first_not_of("nvme0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return name;
}

} // namespace brivane::system_tools
