#include "support/sysfs_fixture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace brivane::testing {

void addHwmonChip(const TempDir& sys, const FixtureChip& chip) {
    const std::string device = "devices/" + chip.device;
    const std::string node = device + (chip.classParent ? "/" : "/hwmon/") + chip.node;
    sys.writeFiles(chip.filesInDevice ? device : node, chip.files);
    sys.symlink(node + "/device", chip.classParent ? ".." : "../..");
    sys.symlink("class/hwmon/" + chip.node, "../../" + node);
}

void addPowerSupply(const TempDir& sys, const std::string& name, const std::string& device,
                    const Files& files) {
    const std::string folder = "devices/" + device + "/power_supply/" + name;
    sys.writeFiles(folder, files);
    sys.symlink("class/power_supply/" + name, "../../" + folder);
}

ssize_t scriptedPread(int fd, void* buffer, std::size_t size, off_t offset) {
    char text[64];
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    if (got > 1 && text[0] == '!') {
        errno = std::atoi(std::string(text + 1, static_cast<std::size_t>(got) - 1).c_str());
        return -1;
    }
    if (got >= 5 && std::memcmp(text, "slow ", 5) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const auto length = std::min(static_cast<std::size_t>(got) - 5, size);
        std::memcpy(buffer, text + 5, length);
        return static_cast<ssize_t>(length);
    }
    return ::pread(fd, buffer, size, offset);
}

void addLinuxLaptop(const TempDir& sys) {
    addHwmonChip(sys, {"hwmon2", "platform/applesmc.768",
                       "name=applesmc;temp1_label=TC0P;temp1_input=45250;temp2_label=TB0T;"
                       "temp2_input=-127000;temp3_label=TA0P;temp3_input=0;fan1_label=Left side;"
                       "fan1_input=1200;fan1_min=1000;fan1_max=6000;fan2_label=Right side;"
                       "fan2_input=",
                       true});
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0",
                       "name=coretemp;temp2_label=Core 0;temp2_input=50000;temp3_label=Core 1;"
                       "temp3_input=150000"});
    addHwmonChip(sys,
                 {"hwmon1", "platform/thinkpad_hwmon", "name=thinkpad;fan1_input=2900;fan1_max=0"});
    addPowerSupply(sys, "BAT0", "LNXSYSTM:00/PNP0C0A:00",
                   "type=Battery;temp=305;voltage_now=12600000");
    const std::string gpu = "devices/pci0000:00/0000:00:08.1/0000:c1:00.0";
    sys.writeFiles(gpu, "uevent=DRIVER=amdgpu;gpu_busy_percent=37");
    sys.symlink(gpu + "/drm/card0/device", "../..");
    sys.symlink("class/drm/card0", "../../" + gpu + "/drm/card0");
}

} // namespace brivane::testing
