#include "reports.h"
#include "system_tools.h"

namespace brivane::system_tools {

int runPmset(std::span<const std::string> args) {
    if (args.size() != 3 || args[0] != "-g" || args[1] != "accps" || args[2] != "-xml") {
        return usage("pmset -g accps -xml");
    }
    const RootedDirectory sys("/sys");
    const auto bus = SystemBus::connect(busCallLimit, SystemBus::Clock::now() + busBudget);
    return printed(powerSourcesReport(sys, bus.get()));
}

} // namespace brivane::system_tools
