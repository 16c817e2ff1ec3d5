// brivane-unit-files: writes the agent's socket and service units exactly as
// `brivane-sensor-companion --install` writes them, for the bundle at the path where it is
// installed, so that the units the package ships cannot drift from the binary's.
// usage: brivane-unit-files <launch-agent plist> <installed bundle> <output folder>

#include "backends/linux/service/launch_agent.h"
#include "backends/linux/service/systemd_unit_text.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    using namespace brivane::platform::linux_backend;
    if (argc != 4) {
        std::cerr << "usage: brivane-unit-files <plist> <installed bundle> <output folder>\n";
        return 2;
    }
    const auto agent = readLaunchAgent(argv[1], argv[2]);
    const auto service = agent ? serviceUnitText(*agent) : std::nullopt;
    const auto socket = agent ? socketUnitText(*agent) : std::nullopt;
    if (!service || !socket || !isUsableUnitName(agent->label)) {
        std::cerr << "brivane-unit-files: " << argv[1] << " gives no units for " << argv[2] << "\n";
        return 1;
    }
    const std::string folder = argv[3];
    for (const auto& [suffix, text] : {std::pair{".service", *service}, {".socket", *socket}}) {
        std::ofstream out(folder + "/" + agent->label + suffix, std::ios::binary);
        if (!(out << text) || !out.flush()) {
            std::cerr << "brivane-unit-files: cannot write in " << folder << "\n";
            return 1;
        }
    }
    return 0;
}
