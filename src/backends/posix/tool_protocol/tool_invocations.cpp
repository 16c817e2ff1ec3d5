#include "backends/posix/tool_protocol/tool_invocations.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace brivane::platform::posix {

ToolTranslation siblingTool(std::string executable, std::string firstArgument) {
    return [executable = std::move(executable),
            firstArgument = std::move(firstArgument)](const ToolRun& requested) {
        std::error_code error;
        const auto running = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) {
            return std::optional<ToolRun>();
        }
        ToolRun local = requested;
        local.path = (running.parent_path() / executable).string();
        local.arguments.insert(local.arguments.begin(), firstArgument);
        return std::optional<ToolRun>(std::move(local));
    };
}

const std::vector<ToolInvocation>& toolInvocations() {
    constexpr const char* systemTools = "brivane-system-tools";
    constexpr const char* codesign = "brivane-codesign";
    static const std::vector<ToolInvocation> table = {
        {"/bin/ps", siblingTool(systemTools, "ps")},
        {"/usr/bin/top", siblingTool(systemTools, "top")},
        {"/usr/bin/pmset", siblingTool(systemTools, "pmset")},
        {"/usr/sbin/diskutil", siblingTool(systemTools, "diskutil")},
        {"/usr/sbin/pkgutil", siblingTool(codesign, "pkgutil")},
        {"/usr/sbin/spctl", siblingTool(codesign, "spctl")},
    };
    return table;
}

std::optional<ToolRun> localInvocation(const ToolRun& requested) {
    const auto& table = toolInvocations();
    const auto row = std::find_if(table.begin(), table.end(), [&](const ToolInvocation& entry) {
        return entry.macPath == requested.path;
    });
    if (row == table.end()) {
        return requested;
    }
    return row->translate(requested);
}

} // namespace brivane::platform::posix
