#include "platform/linux/tool_invocations.h"

#include "platform/linux/cms_standin_tools.h"

#include <algorithm>
#include <utility>

namespace brivane::platform::linux_backend {

ToolTranslation unavailable() {
    return [](const ToolRun&) { return std::optional<ToolRun>(); };
}

ToolTranslation whenArguments(std::vector<std::string> macArguments, std::string localPath,
                              std::vector<std::string> localArguments,
                              ToolEnvironment localEnvironment) {
    return [macArguments = std::move(macArguments), localPath = std::move(localPath),
            localArguments = std::move(localArguments),
            localEnvironment = std::move(localEnvironment)](const ToolRun& requested) {
        if (requested.arguments != macArguments) {
            return std::optional<ToolRun>();
        }
        return std::optional<ToolRun>(ToolRun{localPath, localArguments, localEnvironment,
                                              requested.timeLimit, requested.qos});
    };
}

ToolTranslation sameArguments(std::string localPath) {
    return [localPath = std::move(localPath)](const ToolRun& requested) {
        ToolRun local = requested;
        local.path = localPath;
        return std::optional<ToolRun>(std::move(local));
    };
}

const std::vector<ToolInvocation>& toolInvocations() {
    static const std::vector<ToolInvocation> table = {
        // procps prints the same "pid pcpu comm" lines, busiest first, without a header.
        {"/bin/ps", whenArguments({"-A", "-c", "-r", "-o", "pid=,pcpu=,comm="}, "/usr/bin/ps",
                                  {"-A", "-o", "pid=,pcpu=,comm=", "--sort=-pcpu"},
                                  ToolEnvironment::exactly({{"LC_ALL", "C"}}))},
        {"/usr/bin/top", unavailable()},
        {"/usr/bin/pmset", unavailable()},
        {"/usr/sbin/diskutil", unavailable()},
        {"/usr/sbin/pkgutil", codesignStandIn("pkgutil")},
        {"/usr/sbin/spctl", codesignStandIn("spctl")},
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

} // namespace brivane::platform::linux_backend
