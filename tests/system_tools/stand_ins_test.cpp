#include "disk_description.h"
#include "disk_names.h"
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "platform/host/spawn_tool_runner.h"
#include "power_sources.h"
#include "process_listing.h"
#include "process_tools.h"
#include "readers/process_details_reader.h"
#include "readers/process_status_line.h"
#include "reports.h"
#include "support/child_process.h"
#include "support/sysfs_fixture.h"
#include "support/temp_dir.h"
#include "system_tools.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

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
        return DiskFacts{"disk1", "sda", {}, {}, {}, drive, {}};
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
         StorageHealthReading{.totalWritten = 512000}},
        {"counters of the wrong type",
         disk(BusProperties{}, {{"power_cycles", -3.0}, {"media_errors", std::string("0")}}),
         {}},
        {"ata without smart",
         disk({}, {}, BusProperties{{"SmartSupported", false}, {"SmartTemperature", 310.15}}),
         {}},
        {"ata temperature in exact kelvin",
         disk({}, {}, BusProperties{{"SmartTemperature", 310.0}},
              {{12, "power-cycle-count", -1, 1}}),
         StorageHealthReading{.temperature = 37}},
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
    struct Case {
        const char* name;
        const char* shown;
    };
    const Case cases[] = {
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

// The real thing: a busy child shows up near the top, the tool leaves itself out, and every
// line passes the reader's line rule.
TEST(ProcessStandIns, LiveProcessStatus) {
    const pid_t busy = fork();
    ASSERT_GE(busy, 0);
    if (busy == 0) {
        for (;;)
            asm volatile("" ::: "memory"); // spins without being optimised away
    }
    usleep(100'000);
    platform::host::SpawnToolRunner runner;
    platform::ToolRun run;
    run.path = BRIVANE_SYSTEM_TOOLS;
    run.arguments = {"ps", "-A", "-c", "-r", "-o", "pid=,pcpu=,comm="};
    run.environment = platform::ToolEnvironment::exactly({{"LC_ALL", "C"}});
    const platform::ToolResult result = runner.run(run);
    kill(busy, SIGKILL);
    waitpid(busy, nullptr, 0);
    ASSERT_TRUE(result.succeeded());

    const auto readings = parseProcessStatusOutput(result.output, 1 << 20);
    EXPECT_EQ(std::ssize(readings), std::count(result.output.begin(), result.output.end(), '\n'));
    std::vector<std::int64_t> pids;
    for (const auto& reading : readings)
        pids.push_back(reading.pid);
    EXPECT_EQ(std::find(pids.begin(), pids.end(), result.processIdentifier), pids.end());
    EXPECT_LT(std::find(pids.begin(), pids.end(), busy) - pids.begin(), 10) << result.output;
}

} // namespace
} // namespace brivane::system_tools
