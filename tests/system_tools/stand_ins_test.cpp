#include "backends/posix/system/spawn_tool_runner.h"
#include "backends/posix/system/unix_endpoints.h"
#include "disk-names/disk_names.h"
#include "formats/document_codec.h"
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "readers/process_details_reader.h"
#include "readers/process_status_line.h"
#include "support/child_process.h"
#include "support/mock_system_bus.h"
#include "support/sysfs_fixture.h"
#include "support/temp_dir.h"
#include "system-tools/disk_description.h"
#include "system-tools/power_sources.h"
#include "system-tools/process_listing.h"
#include "system-tools/process_tools.h"
#include "system-tools/reports.h"
#include "system-tools/system_tools.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <tuple>
#include <unistd.h>

namespace brivane {
// Readings print as their document, so a mismatch says which field.
void PrintTo(const StorageHealthReading& reading, std::ostream* out) {
    *out << encode(StorageHealthSnapshot{reading, 0, 0});
}
} // namespace brivane

namespace brivane::system_tools {
namespace {

// The stand-ins' executable run as argv: its exit status and standard error.
testing::CommandResult run(const testing::TempDir& directory, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/bin/sh", "-c", "exec \"$@\" 2>&1 >/dev/null", "sh"});
    return testing::runCommand(argv, {}, directory / "out");
}

// The tool is the name it runs under, else the first argument, with the same remaining
// arguments either way; anything else is a usage error.
TEST(SystemToolsDispatch, ByNameOrFirstArgument) {
    testing::TempDir directory;
    for (const char* tool : {"ps", "top", "pmset", "diskutil"}) {
        SCOPED_TRACE(tool);
        directory.symlink(tool, BRIVANE_SYSTEM_TOOLS);
        const auto byName = run(directory, {directory / tool, "--no-such-option"});
        const auto byArgument = run(directory, {BRIVANE_SYSTEM_TOOLS, tool, "--no-such-option"});
        EXPECT_EQ(byName.status, usageError);
        EXPECT_EQ(std::tie(byArgument.status, byArgument.output),
                  std::tie(byName.status, byName.output));
    }
    const std::string tools = BRIVANE_SYSTEM_TOOLS;
    const std::vector<std::string> usages[] = {{tools}, {tools, "nosuchtool"}, {tools, "/ps"}};
    for (const auto& argv : usages) {
        const auto usage = run(directory, argv);
        EXPECT_EQ(usage.status, usageError) << argv.back();
        EXPECT_NE(usage.output.find("usage: brivane-system-tools"), std::string::npos);
    }
}

TEST(DiskNames, WholeDisksInNamingOrder) {
    const std::vector<std::string> block = {
        "sdb",      "loop0",   "nvme1n1", "sda",          "nvme0n2",   "zram0", "nvme0n1",
        "ram0",     "sdaa",    "sdz",     "vda",          "dm-0",      "md127", "sr0",
        "nvme10n1", "nvme2n1", "mmcblk0", "mmcblk0boot0", "nvme0c0n1", "nbd0",  "xvda"};
    EXPECT_EQ(wholeDisks(block),
              (std::vector<std::string>{"nvme0n1", "nvme0n2", "nvme1n1", "nvme2n1", "nvme10n1",
                                        "sda", "sdb", "sdz", "sdaa", "vda", "xvda", "mmcblk0"}));
}

TEST(DiskDescription, SmartFiguresReachTheReaderInItsUnits) {
    struct Case {
        const char* name;
        DiskFacts facts;
        std::optional<StorageHealthReading> expected;
    };
    const auto disk = [](std::optional<BusProperties> nvme, BusProperties nvmeAttributes,
                         std::optional<BusProperties> ata = {},
                         std::vector<AtaAttribute> ataAttributes = {}) {
        const DriveFacts drive{{}, nvme, nvmeAttributes, ata, ataAttributes};
        return DiskFacts{.identifier = "disk1", .kernelName = "sda", .drive = drive};
    };
    const std::vector<Case> cases = {
        {"never read",
         disk(BusProperties{{"SmartUpdated", std::uint64_t{0}},
                            {"SmartTemperature", std::uint64_t{310}}},
              {}),
         {}},
        {"temperature unknown, part of a data unit",
         disk(BusProperties{{"SmartTemperature", std::uint64_t{0}}},
              {{"total_data_read", std::uint64_t{511999}},
               {"total_data_written", std::uint64_t{1023999}}}),
         StorageHealthReading{.totalWritten = 512000, .device = "sda"}},
        {"counters of the wrong type",
         disk(BusProperties{}, {{"power_cycles", -3.0}, {"media_errors", std::string("0")}}),
         {}},
        {"ata without smart",
         disk({}, {}, BusProperties{{"SmartSupported", false}, {"SmartTemperature", 310.15}}),
         {}},
        {"ata temperature in exact kelvin",
         disk({}, {}, BusProperties{{"SmartTemperature", 310.0}},
              {{12, "power-cycle-count", -1, 1}}),
         StorageHealthReading{.temperature = 37, .device = "sda"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StorageHealthReading::parse(diskDescription(c.facts), "disk1"), c.expected);
    }
}

using AccessoryReading = SensorSnapshot::AccessoryReading;

TEST(PowerSourceText, AnyNameBytesGiveOneReadableSource) {
    const struct {
        std::string name;
        std::string expected;
    } cases[] = {
        {"Keys & <Mouse>", "Keys & <Mouse>"},
        {"<?xml version=\"1.0\"?>", "<?xml version=\"1.0\"?>"},
        {"Caf\xc3\xa9 \xf0\x9f\x8e\xa7", "Caf\xc3\xa9 \xf0\x9f\x8e\xa7"},
        {"bad\xff\xc3", "bad\xef\xbf\xbd\xef\xbf\xbd"},
        {"cut\xe2\x82", "cut\xef\xbf\xbd\xef\xbf\xbd"},     // each byte of a cut sequence
        {"tab\tnl\n\xef\xbf\xbe", "tab\tnl\n\xef\xbf\xbd"}, // U+FFFE: no XML character
        {std::string("nul\0end", 7), std::string("nul\xef\xbf\xbd") + "end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const auto output =
            powerSourceDocuments(std::nullopt, {{c.name, 50.0, true, false, "id", {}}});
        EXPECT_EQ(AccessoryReading::parse(output),
                  (std::vector<AccessoryReading>{{c.expected, std::nullopt, 0.5}}));
    }
}

// Names of any length from any number of devices: the reader gets at most maxCount sources,
// names cut between characters.
TEST(PowerSourceText, NamesAndCountAreBounded) {
    std::string name = "a";
    for (int i = 0; i < 100; ++i)
        name += "\xC3\xA9";
    const std::vector<PowerSourceFacts> many(AccessoryReading::maxCount + 1,
                                             {name, 50.0, true, false, name, {}});
    const auto readings = AccessoryReading::parse(powerSourceDocuments(std::nullopt, many));
    ASSERT_EQ(readings.size(), AccessoryReading::maxCount);
    EXPECT_EQ(readings.back().name, name.substr(0, AccessoryReading::maxNameBytes - 1));
}

// One device reported by UPower, BlueZ and power_supply under the same address (in three
// spellings), serial number or power_supply name is listed once, as the preferred source has it.
TEST(MergeAccessories, ListsADeviceOnceUnderItsAddressOrSerial) {
    const auto upower = [](const char* model, const char* key, const char* value) {
        return *upowerAccessory(
            {{"PowerSupply", false}, {"Model", std::string(model)}, {key, std::string(value)}});
    };
    const auto sysfs = [](const char* name, const char* model, const char* serial) {
        return *powerSupplyAccessory({name, "Battery", "Device", "", model, serial, 50, "", {}});
    };
    const auto merged = mergeAccessories({
        {upower("UPower mouse", "NativePath", "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"),
         upower("UPower keyboard", "Serial", "4082-abcd"),
         upower("UPower tablet", "NativePath", "wacom_battery_0")},
        {*bluezAccessory(
             {{"Alias", std::string("BlueZ mouse")}, {"Address", std::string("aa:bb:cc:dd:ee:01")}},
             {}),
         *bluezAccessory({{"Address", std::string("11:22:33:44:55:66")}}, {})},
        {sysfs("hid-AA:BB:CC:DD:EE:01-battery", "HID mouse", ""),
         sysfs("hidpp_battery_3", "K", "4082-ABCD"),
         sysfs("ps-controller-battery-11:22:33:44:55:66", "Pad", ""),
         sysfs("wacom_battery_0", "Tablet", "")},
    });
    std::vector<std::string> names;
    for (const auto& facts : merged)
        names.push_back(facts.name + " " + facts.identifier);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "UPower mouse AA:BB:CC:DD:EE:01", "UPower keyboard 4082-abcd",
                         "UPower tablet wacom_battery_0", "11:22:33:44:55:66 11:22:33:44:55:66"}));
}

using testing::TempDir;

TEST(RecentCpuUse, DeltasOverTheWindowBusiestFirst) {
    const CpuTimeSample older{{{1, 100}, {2, 50'000'000}, {3, 0}, {9, 1'000}}, 1'000'000'000};
    // 1: +50 ms; 2: counter went back (pid reused): its 30 ms all count; 4: new, 50 ms;
    // 5: new with more than two CPUs could run; 9: excluded.
    const CpuTimeSample newer{
        {{1, 50'000'100}, {2, 30'000'000}, {3, 0}, {4, 50'000'000}, {5, 900'000'000}, {9, 1}},
        1'100'000'000};
    const auto uses = recentCpuUse(older, newer, 9, 2);
    const std::pair<std::int32_t, double> expected[] = {
        {5, 200.0}, {1, 50.0}, {4, 50.0}, {2, 30.0}, {3, 0.0}};
    ASSERT_EQ(uses.size(), std::size(expected));
    for (std::size_t i = 0; i < uses.size(); ++i) {
        EXPECT_EQ(uses[i].pid, expected[i].first) << i;
        EXPECT_DOUBLE_EQ(uses[i].percent, expected[i].second) << i;
    }
    EXPECT_TRUE(recentCpuUse(newer, newer, 0, 2).empty());
}

// Names reach the reader as the kernel's bytes, whatever the locale; only what would break the
// line apart is replaced.
TEST(ProcessStatusLines, NamesSurviveTheReadersLineRule) {
    const struct Case {
        const char* name;
        const char* shown;
    } cases[] = {
        {"Web Content", "Web Content"},
        {"na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC", "na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC"},
        {"evil\n1 99.0 forged", "evil?1 99.0 forged"},
        {"tab\there\r", "tab?here?"},
        {"line\xE2\x80\xA8sep\xC2\x85x", "line?sep?x"},
        {"trailing ", "trailing "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out;
        appendProcessStatusLine(out, 4242, 12.5, lineSafeName(c.name));
        const auto readings = parseProcessStatusOutput(out, 128);
        ASSERT_EQ(readings.size(), 1u);
        EXPECT_EQ(readings[0].name, c.shown);
    }
}

void writeProcess(const TempDir& proc, int pid, const std::string& name, const char* schedstat) {
    const std::string base = std::to_string(pid) + "/";
    proc.write(base + "comm", name + "\n");
    proc.write(base + "stat", std::to_string(pid) + " (" + name +
                                  ") S 1 2 3 4 5 6 7 8 9 10 25 15 13 14 15 16 17 18 900 99\n");
    if (schedstat)
        proc.write(base + "schedstat", schedstat);
}

// Over a fixture /proc: schedstat where there is one, else stat's ticks; the stand-ins' own
// pid left out; lines the readers accept.
TEST(ProcessStandIns, OverAFixtureProc) {
    TempDir proc;
    writeProcess(proc, 10, "worker", "123456789 0 4\n");
    writeProcess(proc, 11, "no schedstat", nullptr);
    writeProcess(proc, 12, "self", "1 0 1\n");
    proc.makeDirectory("sys");
    const ProcessCpuSampler sampler(proc.path());

    const CpuTimeSample sample = sampler.sample();
    ASSERT_EQ(sample.processes.size(), 3u);
    EXPECT_EQ(sample.processes[0].nanoseconds, 123456789u);
    EXPECT_EQ(sample.processes[1].nanoseconds,
              40 * (1'000'000'000u / static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK))));

    const auto status = parseProcessStatusOutput(
        processStatusOutput(sampler, std::chrono::milliseconds(1), 12), 128);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0].pid, 10);
    EXPECT_EQ(status[1].name, "no schedstat");

    const std::string monitor =
        processMonitorOutput(sampler, 2, std::chrono::milliseconds(1), 1, 12);
    EXPECT_EQ(std::count(monitor.begin(), monitor.end(), '\n'), 10);
    const auto energy = ProcessDetailsReader::parseEnergy(monitor, {});
    ASSERT_EQ(energy.size(), 1u);
    EXPECT_EQ(energy[0].pid, 10);
}

// The real thing: a busy child ranks above an idle one, the tool leaves itself out, and every
// line passes the reader's line rule. Only our own children are compared: where a busy child
// stands among the machine's processes depends on what else the machine runs.
TEST(ProcessStandIns, LiveProcessStatus) {
    testing::TempDir scratch;
    testing::ChildProcess spinning({"/bin/sh", "-c", "while :; do :; done"}, {}, scratch / "out");
    testing::ChildProcess sleeping({"/bin/sleep", "30"}, {}, scratch / "out");
    platform::posix::SpawnToolRunner runner;
    platform::ToolRun run;
    run.path = BRIVANE_SYSTEM_TOOLS;
    run.arguments = {"ps", "-A", "-c", "-r", "-o", "pid=,pcpu=,comm="};
    run.environment = platform::ToolEnvironment::exactly({{"LC_ALL", "C"}});
    const platform::ToolResult result = runner.run(run);
    ASSERT_TRUE(result.succeeded());

    const auto readings = parseProcessStatusOutput(result.output, 1 << 20);
    EXPECT_EQ(std::ssize(readings), std::count(result.output.begin(), result.output.end(), '\n'));
    std::vector<std::int64_t> pids;
    for (const auto& reading : readings)
        pids.push_back(reading.pid);
    EXPECT_EQ(std::find(pids.begin(), pids.end(), result.processIdentifier), pids.end());
    const auto busy = std::find(pids.begin(), pids.end(), spinning.pid());
    EXPECT_LT(busy, std::find(pids.begin(), pids.end(), sleeping.pid())) << result.output;
}

// The power and disk tool stand-ins against mocked bus services.
using testing::MockSystemBus;
using testing::runCommand;

const std::string services = BRIVANE_MOCK_SERVICES;

struct MockBusTest : ::testing::Test {
    void SetUp() override {
        if (const auto reason = MockSystemBus::unavailableReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }
};

// Devices of UPower (the keyboard not present, the pad's level of the wrong type, the laptop's
// battery the machine's own) and BlueZ (its mouse is UPower's by address), and power_supply
// entries: a pen and a tablet that UPower lists under their NativePath, and a device that gives
// only a charge band.
constexpr const char* upowerDevices = R"({"devices": {
  "a_mouse": {"Type": ["u", 5], "PowerSupply": ["b", false], "Percentage": ["d", 64.0],
              "Model": ["s", "MX Mouse"], "Serial": ["s", "aa:bb:cc:dd:ee:01"]},
  "b_pen": {"Type": ["u", 13], "PowerSupply": ["b", false], "Percentage": ["d", 70.0],
            "NativePath": ["s", "hid-i2c-ELAN0001-battery"]},
  "c_pad": {"Type": ["u", 12], "PowerSupply": ["b", false], "Percentage": ["s", "high"]},
  "d_phones": {"Type": ["u", 19], "PowerSupply": ["b", false], "Percentage": ["d", 30.0]},
  "e_tablet": {"Type": ["u", 10], "PowerSupply": ["b", false], "Percentage": ["d", 40.0],
               "Model": ["s", "Intuos Pro"], "NativePath": ["s", "wacom_battery_0"]},
  "f_keyboard": {"Type": ["u", 6], "PowerSupply": ["b", false], "Percentage": ["d", 50.0],
                 "IsPresent": ["b", false]},
  "g_laptop": {"Type": ["u", 2], "PowerSupply": ["b", true], "Percentage": ["d", 90.0]}}})";
constexpr const char* bluezDevices = R"({"devices": [
  {"address": "11:22:33:44:55:66", "alias": "Buds", "battery": 80},
  {"address": "AA:BB:CC:DD:EE:01", "alias": "MX Mouse BT", "battery": 64},
  {"address": "11:22:33:44:55:77", "alias": "Speaker"}]})";

TEST_F(MockBusTest, PowerToolListsEachAccessoryOnceFromUPowerBlueZAndSysfs) {
    TempDir sys;
    sys.writeFiles("class/power_supply/hid-i2c-ELAN0001-battery",
                   "type=Battery;scope=Device;capacity=70");
    sys.writeFiles("class/power_supply/hidpp_battery_1",
                   "type=Battery;scope=Device;model_name=MX Keys;capacity_level=High");
    sys.writeFiles("class/power_supply/wacom_battery_0",
                   "type=Battery;scope=Device;model_name=Intuos;capacity=40");
    const AccessoryReading buds{"Buds", {}, 0.8}, keys{"MX Keys", {}, 0.85};
    const std::vector<AccessoryReading> sysfs = {
        {"hid-i2c-ELAN0001-battery", {}, 0.7}, keys, {"Intuos", {}, 0.4}};
    std::vector<AccessoryReading> bluez = {buds, {"MX Mouse BT", {}, 0.64}};
    bluez.insert(bluez.end(), sysfs.begin(), sysfs.end());
    const struct Case {
        const char* name;
        const char* upower; // nullptr: no UPower on the bus
        std::vector<AccessoryReading> expected;
        bool bus = true;
    } cases[] = {
        {"both",
         upowerDevices,
         {{"MX Mouse", {}, 0.64},
          {"Pen", {}, 0.7},
          {"Headphones", {}, 0.3},
          {"Intuos Pro", {}, 0.4},
          buds,
          keys}},
        {"bluez only", nullptr, bluez},
        {"upower never answers", R"({"hang": true})", bluez},
        {"no bus at all", nullptr, sysfs, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MockSystemBus bus;
        ASSERT_TRUE(!c.bus ||
                    bus.startService(services + "/bluez_devices.py", "org.bluez", bluezDevices));
        if (c.upower) {
            ASSERT_TRUE(bus.startService(services + "/upower_devices.py", "org.freedesktop.UPower",
                                         c.upower));
        }
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", c.bus ? bus.address().c_str() : "unix:path=/none", 1);
        const auto started = std::chrono::steady_clock::now();
        const auto connection = SystemBus::connect(busCallLimit, started + busBudget);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        EXPECT_EQ(AccessoryReading::parse(powerSourcesReport(
                      platform::posix::RootedDirectory(sys.path()), connection.get())),
                  c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
    }
}

// UDisks2's drives, each by its block device: an NVMe controller as UDisks 2.10 shows it, one
// as Debian 12's 2.9 does (a drive without the controller interface), an ATA disk with sector
// counts and a failing verdict, and a disk without SMART.
const std::string udisksDrives = R"({"drives": [{"name": "nvme", "block": "nvme0n1",
    "drive": {"Model": ["s", "Fast SSD"], "Serial": ["s", "S4EW"]},
    "nvme": {"SmartTemperature": ["q", 310], "SmartPowerOnHours": ["t", 2871],
             "SmartCriticalWarning": ["u", 0], "SmartUpdated": ["t", 1700000000]},
    "attributes": {"avail_spare": ["y", 100], "spare_thresh": ["y", 10],
                   "percent_used": ["y", 3], "total_data_read": ["t", 512000000],
                   "total_data_written": ["t", 1024511999], "power_cycles": ["t", 412],
                   "unsafe_shutdowns": ["t", 17], "media_errors": ["t", 0]}},
  {"name": "older", "block": "nvme1n1", "drive": {"Model": ["s", "Old SSD"]}},
  {"name": "ata", "block": "sda", "drive": {"Serial": ["s", "WD-1"]},
    "ata": {"SmartSupported": ["b", true], "SmartEnabled": ["b", true],
            "SmartUpdated": ["t", 1700000000], "SmartTemperature": ["d", 308.15],
            "SmartPowerOnSeconds": ["t", 7300], "SmartFailing": ["b", true]},
    "attributes": [[12, "power-cycle-count", 77, 1], [241, "total-lbas-written", 2000000, 3],
                   [5, "reallocated-sector-count", 8, 3], [197, "current-pending-sector", 2, 3],
                   [198, "offline-uncorrectable", 1, 3]]},
  {"name": "plain", "block": "vda", "drive": {"Model": ["s", "Plain Disk )" +
                                 std::string(300, 'x') + R"("]}}]})";

// Disks are the whole disks of /sys/block in naming order, each with the SMART figures UDisks2
// has for it, else those brivane-nvme-health wrote for its controller, else the NVMe
// controller's own temperature (not its "no reading" sentinel, nor of a sleeping drive), and the
// limits the drive's hardware monitor reports.
TEST_F(MockBusTest, DiskToolNamesTheWholeDisksAndReadsTheirSmartFigures) {
    TempDir sys;
    sys.writeFiles(
        "block",
        "nvme0n1/size=9;nvme3n1/size=9;sda/size=9;vda/size=9;loop0/size=9;sda/sda1/size=1");
    sys.writeFiles("class/nvme/nvme1", "serial=OLD-7  ");
    sys.makeDirectory("class/nvme/nvme0");
    sys.symlink("block/nvme0n1/device", "../../class/nvme/nvme0");
    sys.symlink("block/nvme1n1/device", "../../class/nvme/nvme1");
    sys.writeFiles("class/nvme/nvme1/hwmon2",
                   "name=nvme;temp1_label=Composite;temp1_input=36850;temp1_max=84850;"
                   "temp1_crit=89850");
    sys.writeFiles("block/nvme2n1/device/hwmon3", "name=nvme;temp1_input=127000");
    sys.writeFiles("block/nvme3n1/device/hwmon4", "name=nvme;temp1_input=40000");
    sys.writeFiles("block/nvme3n1/device/device/power", "runtime_status=suspended");
    sys.writeFiles("block/sda/device/hwmon/hwmon5",
                   "name=drivetemp;temp1_input=35000;temp1_max=60000;temp1_crit=70000");
    TempDir logs;
    NvmeHealthLog log{.readAt = 1690000000,
                      .criticalWarning = 4,
                      .temperatureKelvin = 312,
                      .availableSpare = 9,
                      .spareThreshold = 10,
                      .percentageUsed = 104,
                      .powerOnHours = 40000,
                      .mediaErrors = 3};
    logs.write("nvme1", formatHealthFile(log));
    logs.write("nvme0", formatHealthFile(log)); // UDisks2's figures come first
    MockSystemBus bus;
    ASSERT_TRUE(
        bus.startService(services + "/udisks_drives.py", "org.freedesktop.UDisks2", udisksDrives));
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    const auto connection =
        SystemBus::connect(busCallLimit, std::chrono::steady_clock::now() + busBudget);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    const platform::posix::RootedDirectory root(sys.path()), healthLogs(logs.path());
    EXPECT_EQ(diskListReport(root),
              "disk0\tnvme0n1\ndisk1\tnvme1n1\ndisk2\tnvme2n1\ndisk3\tnvme3n1\n"
              "disk4\tsda\ndisk5\tvda\n");
    const std::pair<const char*, std::optional<StorageHealthReading>> disks[] = {
        // In the reading's order: temperature, life, read, written, power cycles, power-on
        // hours, spare, its threshold, unsafe shutdowns, media errors, warning bits, verdict,
        // reallocated, pending and uncorrectable sectors, limits, updated, device, model, serial.
        {"disk0", StorageHealthReading{37, 97,         512000000, 1024000000, 412,   2871, 100, 10,
                                       17, 0,          0,         false,      {},    {},   {},  {},
                                       {}, 1700000000, "nvme0n1", "Fast SSD", "S4EW"}},
        {"disk1", StorageHealthReading{39, 0,  {}, {},         0,         40000,     9,
                                       10, 0,  3,  4,          true,      {},        {},
                                       {}, 85, 90, 1690000000, "nvme1n1", "Old SSD", "OLD-7"}},
        {"disk2", std::nullopt},
        {"disk3", std::nullopt}, // asleep: its monitor is not read
        {"disk4", StorageHealthReading{.temperature = 35,
                                       .totalWritten = 1024000000,
                                       .powerCycles = 77,
                                       .powerOnHours = 2,
                                       .smartFailing = true,
                                       .reallocatedSectors = 8,
                                       .pendingSectors = 2,
                                       .uncorrectableSectors = 1,
                                       .maxTemperature = 60,
                                       .criticalTemperature = 70,
                                       .updated = 1700000000,
                                       .device = "sda",
                                       .serial = "WD-1"}},
        {"disk5", std::nullopt}, // no SMART
    };
    for (const auto& [disk, expected] : disks) {
        SCOPED_TRACE(disk);
        const auto report = diskInfoReport(root, connection.get(), disk, healthLogs);
        ASSERT_TRUE(report);
        EXPECT_EQ(StorageHealthReading::parse(*report, disk), expected);
    }
    // A model as long as the drive likes is kept to 256 bytes.
    EXPECT_NE(diskInfoReport(root, connection.get(), "disk5")
                  ->find("Plain Disk " + std::string(245, 'x') + "<"),
              std::string::npos);
    for (const char* unknown : {"disk6", "disk0s1", "disk00", "sda"}) {
        EXPECT_EQ(diskInfoReport(root, connection.get(), unknown), std::nullopt) << unknown;
    }
}

// A bus that never finishes the handshake (its daemon stopped, or a socket that nobody serves)
// costs each stand-in no more than its budget.
TEST_F(MockBusTest, StandInsEndInTimeOnASilentBus) {
    TempDir scratch;
    const std::string path = scratch / "silent";
    const auto silent = platform::posix::listenUnix(path); // never accepts
    ASSERT_TRUE(silent.socket) << silent.message;
    MockSystemBus bus;
    bus.signalDaemon(SIGSTOP);
    for (const auto& address : {bus.address(), "unix:path=" + path}) {
        for (const auto& tool : {std::vector<std::string>{"pmset", "-g", "accps", "-xml"},
                                 std::vector<std::string>{"diskutil", "info", "-plist", "disk0"}}) {
            SCOPED_TRACE(address + " " + tool[0]);
            std::vector<std::string> command{BRIVANE_SYSTEM_TOOLS};
            command.insert(command.end(), tool.begin(), tool.end());
            const auto started = std::chrono::steady_clock::now();
            runCommand(command, {"DBUS_SYSTEM_BUS_ADDRESS=" + address}, scratch / "out",
                       std::chrono::seconds(3));
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
        }
    }
    bus.signalDaemon(SIGCONT);
}

} // namespace
} // namespace brivane::system_tools
