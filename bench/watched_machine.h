#pragma once

// The machine of the cost-of-being-watched measurements: 40 temperatures, 8 fans, 16 rails, 2
// channels of a firmware-backed chip (slow by name), a battery and a graphics card, with the
// limits and alarms their drivers have, laid out as the kernel does under a fixture /sys.

#include "support/sysfs_fixture.h"

#include <string>

namespace brivane::bench {

inline void addWatchedMachine(const testing::TempDir& sys) {
    std::string coretemp = "name=coretemp;temp1_label=Package id 0;temp1_input=52000;"
                           "temp1_max=80000;temp1_crit=100000;temp1_crit_alarm=0";
    for (int core = 0; core < 17; ++core) {
        const auto n = std::to_string(core + 2);
        coretemp += ";temp" + n + "_label=Core " + std::to_string(core) + ";temp" + n +
                    "_input=" + std::to_string(45000 + 1000 * core) + ";temp" + n +
                    "_max=80000;temp" + n + "_crit=100000;temp" + n + "_crit_alarm=0";
    }
    testing::addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", coretemp});
    // The board chip's limits and alarms as its driver has them, and 15 rails.
    std::string board = "name=nct6798;intrusion0_alarm=0;intrusion1_alarm=0";
    for (int i = 1; i <= 10; ++i) {
        const auto n = std::to_string(i);
        board += ";temp" + n + "_input=" + std::to_string(30000 + 500 * i) + ";temp" + n +
                 "_max=80000;temp" + n + "_alarm=0";
    }
    for (int i = 1; i <= 6; ++i) {
        const auto n = std::to_string(i);
        board += ";fan" + n + "_input=" + std::to_string(800 + 100 * i) + ";fan" + n +
                 "_min=300;fan" + n + "_alarm=0";
    }
    for (int i = 0; i <= 14; ++i) {
        const auto n = std::to_string(i);
        board += ";in" + n + "_input=" + std::to_string(1000 + 100 * i) + ";in" + n + "_min=0;in" +
                 n + "_max=3000;in" + n + "_alarm=0";
    }
    testing::addHwmonChip(sys, {"hwmon1", "platform/nct6775.656", board});
    for (int drive = 0; drive < 2; ++drive) {
        const auto n = std::to_string(drive);
        testing::addHwmonChip(sys, {"hwmon" + std::to_string(2 + drive),
                                    "pci0000:00/0000:00:1d.0/0000:0" + n + ":00.0/nvme/nvme" + n,
                                    "name=nvme;temp1_label=Composite;temp1_input=38850;"
                                    "temp1_min=-273150;temp1_max=84850;temp1_crit=84850;"
                                    "temp1_alarm=0;temp2_label=Sensor 1;temp2_input=40850;"
                                    "temp2_min=-273150;temp2_max=65261850",
                                    false, true});
    }
    testing::addHwmonChip(sys, {"hwmon4", "pci0000:00/0000:00:01.0/0000:01:00.0",
                                "name=amdgpu;temp1_label=edge;temp1_input=45000;"
                                "temp2_label=junction;temp2_input=47000;temp3_label=mem;"
                                "temp3_input=50000;fan1_input=1500;fan1_max=3300;"
                                "power1_label=PPT;power1_average=19000000;temp1_crit=100000;"
                                "temp1_emergency=105000;temp2_crit=110000;"
                                "temp2_emergency=115000;temp3_crit=105000;"
                                "temp3_emergency=110000;fan1_min=0;fan1_target=1500;"
                                "in0_label=vddgfx;in0_input=806;power1_cap=186000000"});
    testing::addHwmonChip(sys, {"hwmon5", "virtual/thermal/thermal_zone0",
                                "name=acpitz;temp1_input=27800;temp2_input=29800;"
                                "temp3_input=31800",
                                false, true});
    testing::addHwmonChip(sys,
                          {"hwmon6", "platform/thinkpad_hwmon", "name=thinkpad;fan1_input=2900"});
    testing::addHwmonChip(sys, {"hwmon7", "platform/dell_smm_hwmon",
                                "name=dell_smm;temp1_input=41000;temp2_input=43000"});
    testing::addPowerSupply(sys, "BAT0", "LNXSYSTM:00/PNP0C0A:00",
                            "type=Battery;temp=305;voltage_now=12600000");
}

} // namespace brivane::bench
