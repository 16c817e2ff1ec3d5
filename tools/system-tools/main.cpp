// brivane-system-tools: stands in for the process-status, process-monitor, power-management and
// disk tools the readers run, printing what they read here from /proc, sysfs and the system
// bus, and makes the updater's HTTPS transfers, so the agent links no network library. The
// tool is the name it was started under, else its first argument; the agent runs it from next
// to its own executable.
#include "system-tools/transfer/transfer_tool.h"
#include "system_tools.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace brivane::system_tools;

struct Tool {
    std::string_view name;
    int (*run)(std::span<const std::string> args);
};

constexpr Tool tools[] = {
    {"ps", runPs},
    {"top", runTop},
    {"pmset", runPmset},
    {"diskutil", runDiskutil},
    {"transfer", runTransfer},
};

const Tool* find(std::string_view name) {
    for (const Tool& tool : tools) {
        if (tool.name == name)
            return &tool;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv, argv + argc);
    std::string_view invoked = words.empty() ? std::string_view() : words.front();
    invoked = invoked.substr(invoked.rfind('/') + 1);
    if (const Tool* tool = find(invoked))
        return tool->run(std::span(words).subspan(1));
    if (words.size() >= 2) {
        if (const Tool* tool = find(words[1]))
            return tool->run(std::span(words).subspan(2));
    }
    return usage("brivane-system-tools ps|top|pmset|diskutil|transfer [ARGUMENTS...]");
}
