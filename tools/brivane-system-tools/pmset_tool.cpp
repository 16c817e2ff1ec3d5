#include "reports.h"
#include "system_tools.h"

#include <iostream>

namespace brivane::system_tools {

int runPmset(std::span<const std::string> args) {
    if (args.size() != 3 || args[0] != "-g" || args[1] != "accps" || args[2] != "-xml") {
        return usage("pmset -g accps -xml");
    }
    const RootedDirectory sys("/sys");
    const auto bus = SystemBus::connect(busCallLimit, SystemBus::Clock::now() + busBudget);
    std::cout << powerSourcesReport(sys, bus.get()) << std::flush;
    return std::cout ? 0 : 1;
}

} // namespace brivane::system_tools
