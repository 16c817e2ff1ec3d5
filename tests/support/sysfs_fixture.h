#pragma once

#include "platform/gpu_clients.h"
#include "support/temp_dir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace brivane::testing {

// A hwmon chip as the kernel lays it out: devices/<device>/[hwmon/]<node>, class/hwmon/<node>
// linking to it and <node>/device back; old-style drivers keep their files in the device folder.
struct FixtureChip {
    std::string node;   // "hwmon0"
    std::string device; // under devices/, e.g. "platform/coretemp.0"
    Files files;        // "name=coretemp;temp1_input=45000"
    bool filesInDevice = false;
    bool classParent = false; // no "hwmon/" folder between device and node
};
void addHwmonChip(const TempDir& sys, const FixtureChip& chip);

// class/power_supply/<name> linking into devices/<device>/power_supply/<name>.
void addPowerSupply(const TempDir& sys, const std::string& name, const std::string& device,
                    const Files& files);

// class/drm/card<number> of a PCI device at `address` bound to `driver`, with files in the device
// folder and in the card's own.
void addGraphicsCard(const TempDir& sys, int number, const std::string& address,
                     const std::string& driver, const std::string& deviceFiles,
                     const std::string& cardFiles = "");

// A small Linux laptop: hwmon2, an Intel-Mac SMC (TC0P 45.25 °C, TB0T and TA0P reading as
// absent sensors do, fans "Left side" at 1200 RPM from 1000 to 6000 and "Right side" with an
// empty speed file); hwmon0, coretemp ("Core 0" 50 °C, "Core 1" 150 °C); hwmon1, a thinkpad fan
// at 2900 RPM whose maximum reads 0; battery BAT0 (30.5 °C, 12.6 V, no scope file); card0, an
// amdgpu card 37 % busy.
void addLinuxLaptop(const TempDir& sys);

// An Apple-silicon MacBook Pro with two fans, laid out as the kernel's device tree for it has
// the SMC's channels: "Fan 1" 1200 RPM (1200-5700), "Fan 2" 1250 RPM, "NAND Flash Temperature"
// 38.25 °C, "Battery Hotspot" 30.5 °C, "Total System Power" 12.5 W, and a "Mystery Rail" of 1 W
// that the SMC table does not know. Its battery macsmc-battery (30.5 °C, 12.6 V) has the hwmon
// twin the supply core registers for a supply with a temperature.
void addAsahiMacBookPro(const TempDir& sys);

// A desktop: an nct6798 board chip (SYSTIN 31 °C with a high limit of 80 °C and a "no limit"
// crit, CPUTIN an unconnected input at +123.5 °C; fan1 1200 RPM with a minimum of 300, fan2 an
// empty header, fan3 a stopped fan, fan4 reading 10^18 RPM; in0 1.104 V below its minimum of
// 1.2 V with its alarm raised; an opened chassis; an in1 with a maximum alone), a k10temp
// (Tctl 33 °C), an amdgpu card (edge 45 °C, PPT 19 W) and two NVMe drives (Composite 38.85 °C at
// 0000:01:00.0, 41.85 °C at 0000:04:00.0). `probedInReverse` numbers hwmon nodes and NVMe
// controllers the other way round, as another boot's probe order would.
void addDesktop(const TempDir& sys, bool probedInReverse = false);

// A pread that fails like sysfs: a file reading "!<errno>" fails with that error, one reading
// "slow <text>" takes 30 ms to give <text>, and one reading "hang <text>" 5 s (a hung driver).
ssize_t scriptedPread(int fd, void* buffer, std::size_t size, off_t offset);

// Three cards: an Intel iGPU (card0, 0000:00:02.0), an AMD dGPU asleep (card1, 0000:03:00.0,
// whose busy file would read 97), an NVIDIA card (card2, 0000:01:00.0, the library stand-in's).
void addThreeGraphicsCards(const TempDir& sys);
// Their clients' fd and fdinfo folders under `folder` (a /proc root), for five pids, in order: a
// compositor with an i915 client dup'ed (one client id, two descriptors) and a pipe, a game on
// both the Intel and the AMD card, one whose fdinfo is malformed, one gone between its
// descriptors' listing and its fdinfo, and a child holding the compositor's client
// (inherited).
void addGpuClientProcesses(const TempDir& tree, const std::string& folder,
                           const std::vector<int>& pids);
// A process's use of a card, as a table of the cards' clients gives it.
platform::GpuClientUse gpuClientUse(int32_t pid, std::string card, std::string address,
                                    std::map<std::string, double> nanoseconds,
                                    std::optional<uint64_t> memory,
                                    std::map<std::string, double> shares = {});

} // namespace brivane::testing
