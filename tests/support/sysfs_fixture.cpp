#include "support/sysfs_fixture.h"

#include "base/whole_number.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

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

void addGraphicsCard(const TempDir& sys, int number, const std::string& address,
                     const std::string& driver, const std::string& deviceFiles,
                     const std::string& cardFiles) {
    const std::string device = "devices/pci0000:00/" + address;
    const std::string card = device + "/drm/card" + std::to_string(number);
    sys.writeFiles(device,
                   "uevent=DRIVER=" + driver + (deviceFiles.empty() ? "" : ";") + deviceFiles);
    if (!cardFiles.empty())
        sys.writeFiles(card, cardFiles);
    sys.symlink(card + "/device", "../..");
    sys.symlink("class/drm/card" + std::to_string(number), "../../" + card);
}

ssize_t scriptedPread(int fd, void* buffer, std::size_t size, off_t offset) {
    char text[64];
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    if (got > 1 && text[0] == '!') {
        std::string_view number(text + 1, static_cast<std::size_t>(got) - 1);
        while (!number.empty() && number.back() == '\n')
            number.remove_suffix(1);
        errno = base::wholeNumber<int>(number).value_or(EINVAL); // a typo still fails
        return -1;
    }
    const bool hang = got >= 5 && std::memcmp(text, "hang ", 5) == 0;
    if (hang || (got >= 5 && std::memcmp(text, "slow ", 5) == 0)) {
        std::this_thread::sleep_for(hang ? std::chrono::milliseconds(5000)
                                         : std::chrono::milliseconds(30));
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
    addGraphicsCard(sys, 0, "0000:00:08.1/0000:c1:00.0", "amdgpu", "gpu_busy_percent=37");
}

void addAsahiMacBookPro(const TempDir& sys) {
    addHwmonChip(sys, {"hwmon0", "platform/soc/23e400000.smc/macsmc-hwmon",
                       "name=macsmc_hwmon;fan1_label=Fan 1;fan1_input=1200;fan1_min=1200;"
                       "fan1_max=5700;fan2_label=Fan 2;fan2_input=1250;fan2_min=1200;"
                       "fan2_max=5700;temp1_label=NAND Flash Temperature;temp1_input=38250;"
                       "temp2_label=Battery Hotspot;temp2_input=30500;"
                       "power1_label=Total System Power;power1_input=12500000;"
                       "power2_label=Mystery Rail;power2_input=1000000"});
    const std::string battery = "platform/soc/23e400000.smc/macsmc-battery";
    addPowerSupply(sys, "macsmc-battery", battery,
                   "type=Battery;scope=System;temp=305;voltage_now=12600000");
    addHwmonChip(sys, {"hwmon1", battery + "/power_supply/macsmc-battery",
                       "name=macsmc_battery;temp1_input=30500", false, true});
}

void addDesktop(const TempDir& sys, bool probedInReverse) {
    const auto node = [probedInReverse](int n) {
        return "hwmon" + std::to_string(probedInReverse ? 4 - n : n);
    };
    addHwmonChip(sys, {node(0), "platform/nct6775.656",
                       "name=nct6798;temp1_label=SYSTIN;temp1_input=31000;temp1_max=80000;"
                       "temp1_crit=127000;temp1_alarm=0;temp2_label=CPUTIN;temp2_input=123500;"
                       "temp2_max=80000;fan1_input=1200;fan1_min=300;fan1_alarm=0;fan2_input=0;"
                       "fan3_input=0;fan4_input=1000000000000000000;in0_input=1104;in0_min=1200;"
                       "in0_max=1744;in0_alarm=1;intrusion0_alarm=1;in1_max=1000"});
    addHwmonChip(sys, {node(1), "pci0000:00/0000:00:18.3",
                       "name=k10temp;temp1_label=Tctl;"
                       "temp1_input=33000"});
    addHwmonChip(sys, {node(2), "pci0000:00/0000:00:03.1/0000:0b:00.0",
                       "name=amdgpu;temp1_label=edge;temp1_input=45000;power1_label=PPT;"
                       "power1_average=19000000"});
    const auto nvme = [&](int n, const std::string& address, int millidegrees) {
        const int controller = probedInReverse ? 1 - n : n;
        addHwmonChip(
            sys, {node(3 + n),
                  "pci0000:00/0000:00:01.2/" + address + "/nvme/nvme" + std::to_string(controller),
                  "name=nvme;temp1_label=Composite;temp1_input=" + std::to_string(millidegrees),
                  false, true});
    };
    nvme(0, "0000:01:00.0", 38850);
    nvme(1, "0000:04:00.0", 41850);
}

void addThreeGraphicsCards(const TempDir& sys) {
    addGraphicsCard(sys, 0, "0000:00:02.0", "i915", "power/runtime_status=active",
                    "gt/gt0/rc6_residency_ms=1000");
    addGraphicsCard(sys, 1, "0000:03:00.0", "amdgpu",
                    "gpu_busy_percent=97;power/runtime_status=suspended;"
                    "hwmon/hwmon3/temp1_input=60000");
    addGraphicsCard(sys, 2, "0000:01:00.0", "nvidia", "power/runtime_status=active");
    sys.symlink("class/drm/renderD128", "../../devices/pci0000:00/0000:00:02.0/drm/renderD128");
}

void addGpuClientProcesses(const TempDir& tree, const std::string& folder,
                           const std::vector<int>& pids) {
    const auto process = [&](int pid,
                             std::vector<std::pair<std::string, std::string>> descriptors) {
        const std::string root = folder + std::to_string(pid);
        tree.makeDirectory(root + "/fdinfo");
        int fd = 3;
        for (const auto& [target, fdinfo] : descriptors) {
            tree.symlink(root + "/fd/" + std::to_string(fd), target);
            if (!fdinfo.empty())
                tree.write(root + "/fdinfo/" + std::to_string(fd),
                           "pos:\t0\nflags:\t02\n" + fdinfo);
            ++fd;
        }
    };
    const std::string intel = "drm-driver:\ti915\ndrm-pdev:\t0000:00:02.0\n";
    const std::string amd = "drm-driver:\tamdgpu\ndrm-pdev:\t0000:03:00.0\n";
    const std::string compositor = intel + "drm-client-id:\t1\n"
                                           "drm-engine-render:\t1000000000 ns\n"
                                           "drm-engine-video:\t2000 ns\n"
                                           "drm-engine-capacity-video:\t2\n"
                                           "drm-total-system0:\t8 MiB\n"
                                           "drm-resident-system0:\t3 MiB\n";
    process(pids.at(0),
            {{"/dev/dri/card0", compositor}, {"/dev/dri/card0", compositor}, {"pipe:[4711]", ""}});
    process(
        pids.at(1),
        {{"/dev/dri/renderD128", intel + "drm-client-id:\t2\ndrm-engine-render:\t500000000 ns\n"},
         {"/dev/dri/renderD129", amd + "drm-client-id:\t5\ndrm-engine-gfx:\t700000000 ns\n"
                                       "drm-memory-vram:\t1024 KiB\n"}});
    process(pids.at(2), {{"/dev/dri/card0", intel + "drm-engine-render:\tmany ns\n"}});
    process(pids.at(3), {{"/dev/dri/card0", ""}});
    process(pids.at(4), {{"/dev/dri/card0", compositor}});
}

platform::GpuClientUse gpuClientUse(int32_t pid, std::string card, std::string address,
                                    std::map<std::string, double> nanoseconds,
                                    std::optional<uint64_t> memory,
                                    std::map<std::string, double> shares) {
    platform::GpuClientUse use;
    std::tie(use.pid, use.card, use.pciAddress, use.busyNanoseconds, use.memoryBytes,
             use.busyShare) = std::tuple(pid, std::move(card), std::move(address),
                                         std::move(nanoseconds), memory, std::move(shares));
    return use;
}

} // namespace brivane::testing
