#include "platform/linux/cms_standin_tools.h"

#include <filesystem>

namespace brivane::platform::linux_backend {

ToolTranslation codesignStandIn(std::string subcommand) {
    return [subcommand = std::move(subcommand)](const ToolRun& requested) {
        std::error_code error;
        const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) {
            return std::optional<ToolRun>();
        }
        ToolRun local = requested;
        local.path = (executable.parent_path() / "brivane-codesign").string();
        local.arguments.insert(local.arguments.begin(), subcommand);
        return std::optional<ToolRun>(std::move(local));
    };
}

} // namespace brivane::platform::linux_backend
