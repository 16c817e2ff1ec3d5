#include "reports.h"
#include "system_tools.h"

namespace brivane::system_tools {

int runDiskutil(std::span<const std::string> args) {
    const RootedDirectory sys("/sys");
    if (args.size() == 1 && args[0] == "list") {
        return printed(diskListReport(sys));
    }
    if (args.size() != 3 || args[0] != "info" || args[1] != "-plist") {
        return usage("diskutil info -plist DEVICE | diskutil list");
    }
    const auto bus = SystemBus::connect(busCallLimit, SystemBus::Clock::now() + busBudget);
    const auto report = diskInfoReport(sys, bus.get(), args[2], RootedDirectory(nvmeHealthFolder));
    // An unknown disk, as the platform's tool answers it: an error status, nothing on stdout.
    if (!report) {
        return 1;
    }
    return printed(*report);
}

} // namespace brivane::system_tools
