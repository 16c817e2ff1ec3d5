#include "ipc/ipc_test_support.h"
#include "sensors-cli/disk_list.h"
#include "sensors-cli/document_view.h"
#include "sensors-common/agent_connection.h"
#include "sensors-common/cli_options.h"
#include "sensors-common/sensor_catalogue.h"
#include "support/child_process.h"

#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <sstream>

namespace brivane::cli {
namespace {

using ipc::Selector;

// The parsed options as "argument|team|endpoint|raw or json|rows|action", a dash for what is
// absent or a single request.
std::string summary(const CliOptions& o) {
    const bool all = o.rows == std::numeric_limits<std::size_t>::max();
    const auto rows = all ? "all" : o.rows ? std::to_string(*o.rows) : "-";
    const auto action = o.action == CliOptions::Action::disks ? "disks" : o.watch ? "watch" : "-";
    return o.argument.value_or("-") + "|" + o.team + "|" + o.endpoint.value_or("-") + "|" +
           (o.raw    ? "raw"
            : o.json ? "json"
                     : "-") +
           "|" + rows + "|" + action;
}

// A command line split at its spaces.
std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST(SensorsCli, OptionsMayStandBeforeOrAfterTheRequest) {
    const struct {
        const char* line;
        Selector selector;
        const char* parsed;
    } cases[] = {
        {"snapshot", Selector::snapshot, "-|D|-|-|-|-"},
        {"", Selector::snapshot, "-|D|-|-|-|-"},
        {"--raw cpu", Selector::cpuDetails, "-|D|-|raw|-|-"},
        {"processes energy --team T1", Selector::processDetails, "energy|T1|-|-|-|-"},
        {"--endpoint=/run/x storage --raw disk0s2", Selector::storageHealth,
         "disk0s2|D|/run/x|raw|-|-"},
        {"manage --team=T2 checkForUpdates", Selector::manage, "checkForUpdates|T2|-|-|-|-"},
        // A disk's argument may look like an option.
        {"storage -- -sda", Selector::storageHealth, "-sda|D|-|-|-|-"},
        {"watch", Selector::snapshot, "-|D|-|-|-|watch"},
        {"watch processes memory --raw", Selector::processDetails, "memory|D|-|raw|-|watch"},
        {"--interval=0.5 watch cpu", Selector::cpuDetails, "-|D|-|-|-|watch"},
        {"-n 5 cpu", Selector::cpuDetails, "-|D|-|-|5|-"},
        {"-n5 --json processes storage", Selector::processDetails, "storage|D|-|json|5|-"},
        {"--all cpu", Selector::cpuDetails, "-|D|-|-|all|-"},
        {"storage list", Selector::storageHealth, "-|D|-|-|-|disks"},
        {"--raw storage", Selector::storageHealth, "-|D|-|raw|-|disks"},
        {"storage list --json", Selector::storageHealth, "-|D|-|json|-|disks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto parsed = parseCommandLine(words(c.line), "D");
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->selector, c.selector);
        EXPECT_EQ(summary(*parsed.options), c.parsed);
    }
}

TEST(SensorsCli, MistakesNameWhatWasWrongAndTheNearestValidWord) {
    const std::pair<const char*, const char*> cases[] = {
        {"snapshto", "unknown request \"snapshto\" (did you mean snapshot?)"},
        {"temperatures", "unknown request \"temperatures\""},
        {"snapshot --rwa", "unknown option \"--rwa\" (did you mean --raw?)"},
        {"snapshot extra", "snapshot takes no argument, not \"extra\""},
        {"processes", "processes needs a kind: memory, storage, energy or gpu"},
        {"processes Memory",
         "unknown kind \"Memory\" (did you mean memory?); processes takes memory, storage, "
         "energy or gpu"},
        {"storage disk0 disk1", "storage takes one argument, not 2"},
        {"-n 0 cpu", "-n needs a number of rows, at least 1"},
        {"-nx cpu", "-n needs a number of rows, at least 1"},
        {"--json --raw cpu", "--json and --raw exclude each other"},
        {"metrics --json", "--json shows the requests' views and history, not metrics text"},
        {"--endpoint= snapshot", "--endpoint needs a socket path"},
        {"--interval 1 snapshot", "--interval is for watch and record only"},
        {"record --interval 0.5", "--interval of record needs at least 1 second"},
        {"snapshot --since 1h", "--since belongs to history"},
        {"history --json --csv", "--json and --csv exclude each other"},
        {"watch history", "watch repeats snapshot, cpu, processes and storage only"},
        {"snapshot --test", "--test belongs to alerts"},
        {"watch --interval 0.01", "--interval needs a number of seconds, at least 0.1"},
        {"watch manage installUpdate", "watch repeats snapshot, cpu, processes and storage"},
    };
    for (const auto& [line, error] : cases) {
        SCOPED_TRACE(line);
        const auto parsed = parseCommandLine(words(line), "D");
        EXPECT_FALSE(parsed.options);
        EXPECT_TRUE(parsed.error.starts_with(error)) << parsed.error;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
    }
}

// An empty section tells why when the document shows it: fans and SMC power keys come only from
// an SMC; a level of 0.64 is 64 %. Rankings stop at the view's rows; residencies are shares.
TEST(SensorsCli, ViewsShowTheDocumentsAsTablesAndSayWhyASectionIsEmpty) {
    const std::string head = R"({"version":2,"helperUID":1,"helperEffectiveUID":1,)";
    const ViewOptions plain{.rows = 2,
                            .utf8 = false,
                            .hotOn = "<",
                            .hotOff = ">",
                            .stateNames = {{"ECPU", {"600 MHz", "1200 MHz"}}}};
    const struct Case {
        const char* name;
        Selector selector;
        std::string argument;
        std::string document;
        ViewOptions view;
        std::vector<std::string> shown; // empty: the document is refused
    } cases[] = {
        {"snapshot",
         Selector::snapshot,
         "",
         head + R"("temperatures":[{"key":"Tx9Q","value":40},{"key":"TC0P","value":45.26}],)"
                R"("accessories":[],"fans":[{"id":0,"name":"Left","rpm":1200,"maximumRPM":5000}],)"
                R"("power":[{"key":"BatteryVoltage","value":12.5}],)"
                R"("supportsProcessDetails":true,"companionVersion":"1.0.0"})",
         {},
         {"1.0.0", "  TC0P    CPU proximity  CPU    45.3\n  Tx9Q                   other  40.0\n",
          "°C", "Left", "1200", "5000", "BatteryVoltage", "12.50  V", "process details",
          "(none: no accessory reports a battery level)"}},
        {"hot, without UTF-8",
         Selector::snapshot,
         "",
         head + R"("temperatures":[{"key":"TC0D","value":95}],"fans":[]})",
         plain,
         {"  sensor  name     group     C\n<  TC0D    CPU die  CPU    95.0  HOT>\n",
          "Battery\n  (none: no battery on this machine)\n"}},
        {"no SMC, an accessory",
         Selector::snapshot,
         "",
         head + R"("temperatures":[],"fans":[],"power":[],)"
                R"("accessories":[{"name":"Mouse","level":0.64}],)"
                R"("battery":{"level":0.8,"state":"charging","timeToFull":4530}})",
         {},
         {"Battery", "level", "80 %", "charging", "1 h 16 min",
          "(none: this machine reports no fans)",
          "(none: no SMC and no other temperature sensor on this machine)",
          "(none: no graphics accelerator reports its utilisation)", "Mouse", " 64\n"}},
        {"a fanless Linux board",
         Selector::snapshot,
         "",
         head + R"("temperatures":[{"key":"nvme@0001:01:00.0/Composite","value":40},)"
                R"({"key":"cpu_thermal/temp1","value":48.2}],"fans":[],)"
                R"("power":[{"key":"PSTR","value":4}]})",
         {},
         {"  cpu_thermal/temp1            cpu_thermal temp1  CPU      48.2\n"
          "  nvme@0001:01:00.0/Composite  Composite          storage  40.0\n",
          "(none: this machine reports no fans)"}},
        {"limits, alarms and rails from the sensors member, limits below a wide table's rows",
         Selector::snapshot,
         "",
         head + R"("temperatures":[{"key":"nvme@0001:01:00.0/Composite","value":40},)"
                R"({"key":"coretemp/Core 0","value":85}],"fans":[{"id":0,"name":"nct6798/fan1",)"
                R"("rpm":0}],"sensors":[{"key":"nvme@0001:01:00.0/Composite",)"
                R"("type":"temperature","value":40,"min":-5.15,"max":84.85,"crit":84.85},)"
                R"({"key":"coretemp/Core 0","type":"temperature","value":85,"max":100,)"
                R"("alarms":{"alarm":false,"crit":true}},{"key":"nct6798/fan1","type":"fan",)"
                R"("value":0,"min":300,"max":2000,"alarms":{"alarm":true},"fault":true},)"
                R"({"key":"nct6798/in0","type":"voltage","value":1.104,"min":1.2,"max":1.744,)"
                R"("alarms":{"min":true}},{"key":"rpi_volt/in0","type":"voltage",)"
                R"("alarms":{"lcrit":true}},{"key":"nct6798/intrusion0","type":"intrusion",)"
                R"("alarms":{"alarm":true}}]})",
         plain,
         {"  sensor                       name       group       C\n"
          "<  coretemp/Core 0              Core 0     CPU      85.0  HOT ALARM (crit)\n"
          "                               high 100.0 C>\n"
          "  nvme@0001:01:00.0/Composite  Composite  storage  40.0\n"
          "                               low -5.2 C, high 84.8 C, crit 84.8 C\n",
          "<    0  nct6798/fan1    0  2000  min 300 rpm  ALARM FAULT>\n",
          "Voltages\n  sensor        name          group         V\n"
          "<  nct6798/in0   nct6798 in0   mainboard  1.10  ALARM (under-voltage)\n"
          "                min 1.20 V, max 1.74 V>\n"
          "<  rpi_volt/in0  rpi_volt in0  mainboard        ALARM (under-voltage)>\n",
          "Chassis intrusion\n  sensor              name                group\n"
          "<  nct6798/intrusion0  nct6798 intrusion0  mainboard  ALARM (chassis opened)>\n"}},
        {"every graphics card, the busiest in graphics, a sleeping one asleep",
         Selector::snapshot,
         "",
         head +
             R"("temperatures":[],"fans":[],"graphics":{"utilization":0.42},"gpus":[)"
             R"({"card":"card0","pciAddress":"0000:00:02.0","driver":"i915","utilization":0.12},)"
             R"({"card":"card2","pciAddress":"0000:01:00.0","driver":"nvidia","asleep":false,)"
             R"("utilization":0.42,"memoryUsed":1073741824,"memoryTotal":8589934592,)"
             R"("power":35.5,"temperature":81},{"card":"card1","pciAddress":"0000:03:00.0",)"
             R"("driver":"amdgpu","asleep":true,"utilization":0}]})",
         plain,
         {"Graphics\n  unit    busy %\n  device    42.0\n\nGraphics cards\n",
          "  card   address       driver  state   busy %  memory used    total     W     C\n"
          "  card0  0000:00:02.0  i915              12.0\n"
          "  card2  0000:01:00.0  nvidia  awake     42.0      1.0 GiB  8.0 GiB  35.5  81.0\n"
          "  card1  0000:03:00.0  amdgpu  asleep     0.0\n"}},
        {"cpu",
         Selector::cpuDetails,
         "",
         head + R"("processes":[{"pid":1,"name":"a","usage":9},{"pid":2,"name":"b","usage":5},)"
                R"({"pid":3,"name":"c","usage":1}],"residencies":{"ECPU":[10,30],"PCPU":[1,1,2]}})",
         plain,
         {"  b          5.0\n  ... and 1 more (-n N or --all shows them)\n",
          "  ECPU     600 MHz      25.0\n           1200 MHz     75.0\n  PCPU     P1",
          "P3           50.0\n"}},
        {"cpu idle states and throttling",
         Selector::cpuDetails,
         "",
         head +
             R"("processes":[],"residencies":{},"idleStates":{"PCPU":[{"name":"C1",)"
             R"("seconds":1},{"name":"C6","seconds":7201}]},"throttling":{"cores":{"PCPU":)"
             R"({"events":5,"seconds":1.5},"ECPU":{"events":1}},"packages":{"0":{"events":2}}}})",
         plain,
         {"  cluster  state        time  share %\n  PCPU     C1          1.0 s      0.0\n"
          "           C6     2 h 00 min    100.0\n",
          "  scope       events   time\n  ECPU cores       1\n  PCPU cores       5  1.5 s\n"
          "  package 0        2\n"}},
        {"process memory",
         Selector::processDetails,
         "memory",
         head + R"("ranked":[{"pid":7,"name":"kernel","usage":1572864}],"storage":[]})",
         {},
         {"footprint (anon. RSS)", "1.5 MiB"}},
        {"process storage",
         Selector::processDetails,
         "storage",
         head + R"("ranked":[],"storage":[{"pid":7,"name":"dd","readBytesPerSecond":0,)"
                R"("writeBytesPerSecond":20971520}],"storageInterval":6.02})",
         {},
         {"Storage traffic per second over the last 6.0 s\n", "dd          0 B   20.0 MiB\n"}},
        {"incomplete snapshot", Selector::snapshot, "", "{\"version\":2}", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto view = renderDocument(c.selector, c.argument, c.document, c.view);
        ASSERT_EQ(view.has_value(), !c.shown.empty());
        for (const auto& expected : c.shown)
            EXPECT_NE(view->find(expected), std::string::npos) << expected << "\n" << *view;
    }
}

TEST(SmcKeyCatalogue, NamesWellKnownKeysAndLeavesTheRestUnnamed) {
    const struct {
        const char* key;
        const char* described; // "name|group", empty for no description
    } cases[] = {
        {"TC3C", "CPU core 3|CPU"},
        {"Tp0D", "CPU performance core|CPU"},
        {"TB0T", "Battery|battery"},
        {"TB2T", "Battery 2|battery"},
        {"TC0F", "CPU die|CPU"},
        {"TCSA", "CPU|CPU"},
        {"TCGC", "CPU graphics|GPU"},
        {"TCHP", "Charge regulator|power"},
        {"TA0V", "Ambient|ambient"},
        {"TM0V", "Memory|memory"},
        {"TW1P", "Wireless|wireless"},
        {"Th1H", ""},
        {"TCxC", "CPU|CPU"}, // '#' wants a digit: the family's name
        {"TC0PX", ""},
        {"cpu/Package id 0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const auto description = describeSmcKey(c.key);
        EXPECT_EQ(description ? description->name + "|" + std::string(groupName(description->group))
                              : "",
                  c.described);
    }
}

// Every Linux chip's readings in its group, named by their labels; thermal zones by type.
TEST(SensorCatalogue, LinuxChipsHaveGroupsAndNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"coretemp/Package id 0", "Package id 0|CPU"},
        {"k10temp@0000:00:18.3/Tccd8", "Tccd8|CPU"},
        {"amdgpu@0000:03:00.0/edge", "edge|GPU"},
        {"xe@0000:04:00.0/pkg", "pkg|GPU"},
        {"drivetemp@2:0:0:0/temp1", "drivetemp temp1|storage"},
        {"spd5118@1-0051/temp1", "spd5118 temp1|memory"},
        {"iwlwifi_1/temp1", "iwlwifi_1 temp1|wireless"},
        {"mt7921_phy0/temp1", "mt7921_phy0 temp1|wireless"},
        {"nct6779/SYSTIN", "SYSTIN|mainboard"},
        {"acpitz@hwmon0/temp2", "acpitz temp2|mainboard"},
        {"thermal_zone/SEN1", "SEN1|mainboard"},
        {"thermal_zone/gpu-thermal", "gpu-thermal|GPU"},
        {"bigcore0_thermal/temp1", "bigcore0_thermal temp1|CPU"},
        {"rpi_volt/in0", "rpi_volt in0|mainboard"},
        {"corsairpsu@3-1:1.0/power +12v", "power +12v|power"},
        {"ina3221@1-0040/VDD_CPU_CV", "VDD_CPU_CV|power"},
        {"ucsi_source_psy_USBC000:001/in0", "ucsi_source_psy_USBC000:001 in0|power"},
        {"apm_xgene/SoC Temperature", "SoC Temperature|CPU"},
        {"steamdeck_hwmon/Battery Temp", "Battery Temp|battery"},
        {"BatteryTemperature", "Battery|battery"},
        {"TC0P", "CPU proximity|CPU"},
        {"mystery/temp1", "mystery temp1|other"},
    };
    for (const auto& [key, described] : cases) {
        const auto description = describeSensor(key);
        ASSERT_TRUE(description) << key;
        EXPECT_EQ(description->name + "|" + std::string(groupName(description->group)), described)
            << key;
    }
}

// Scripts get what the tables show, with names, groups and units, in a layout of a stated
// version; limits, alarms and rails only add members and sections.
TEST(SensorsCli, TheJsonViewCarriesWhatTheTablesShow) {
    const auto view = viewDocument(
        Selector::snapshot, std::nullopt,
        R"({"version":2,"temperatures":[{"key":"TC0D","value":95.25},)"
        R"({"key":"k10temp/Tctl","value":60}],"fans":[],"helperUID":1,)"
        R"("helperEffectiveUID":1,"supportsManagement":true,"sensors":[{"key":"k10temp/Tctl",)"
        R"("type":"temperature","value":60,"max":70,"crit":95,"alarms":{"crit":true}},)"
        R"({"key":"rpi_volt/in0","type":"voltage","alarms":{"alarm":false,"lcrit":true}}]})");
    ASSERT_TRUE(view);
    const auto json = renderJson(*view, "snapshot");
    for (
        const std::string expected :
        {R"j({"format":1,"request":"snapshot","heading":"Brivane Sensor Companion ? (document )j"
         R"j(version 2)","helperUID":1,"helperEffectiveUID":1,"sections":[{"name":"temperatures",)j"
         R"("title":"Temperatures","rows":[{"sensor":"TC0D","name":"CPU die","group":"CPU",)"
         R"("celsius":95.25,"hot":true},{"sensor":"k10temp\/Tctl","name":"Tctl","group":"CPU",)"
         R"("celsius":60,"hot":false,"alarm":true,"alarms":["crit"],"maxCelsius":70,)"
         R"("critCelsius":95}]},)",
         R"({"name":"battery","title":"Battery","rows":[],"none":"no battery on this machine"})",
         R"({"name":"voltages","title":"Voltages","rows":[{"sensor":"rpi_volt\/in0",)"
         R"("name":"rpi_volt in0","group":"mainboard","alarm":true,"alarms":["lcrit"]}]}],)"
         R"("answersAlso":["management"]})"})
        EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
    // The time of the answer, where the caller knows it.
    EXPECT_NE(renderJson(*view, "snapshot", 1772323210125)
                  .find(R"("request":"snapshot","time":"2026-03-01T00:00:10.125Z",)"),
              std::string::npos);
}

// Disks are named as the agent's disk tool names them, and found by kernel name or device path.
TEST(SensorsCli, DisksAreListedAndFoundByTheirKernelNames) {
    testing::TempDir sys;
    sys.writeFiles("block/sda/device", "model=QEMU HARDDISK   ");
    sys.writeFiles("block/nvme0n1/device", "model=Fast SSD");
    sys.makeDirectory("block/loop0");
    const auto disks = listDisks(platform::posix::RootedDirectory(sys.path()));
    EXPECT_EQ(renderDiskList(disks), "  disk   device        model\n"
                                     "  disk0  /dev/nvme0n1  Fast SSD\n"
                                     "  disk1  /dev/sda      QEMU HARDDISK\n");
    EXPECT_EQ(renderJsonRows(diskListView(disks).sections.at(0)),
              R"([{"disk":"disk0","device":"\/dev\/nvme0n1","model":"Fast SSD"},)"
              R"({"disk":"disk1","device":"\/dev\/sda","model":"QEMU HARDDISK"}])"
              "\n");
    const std::pair<const char*, std::optional<std::string>> names[] = {
        {"disk1", "disk1"},      {"sda", "disk1"},        {"/dev/nvme0n1", "disk0"},
        {"disk2", std::nullopt}, {"loop0", std::nullopt}, {"/dev/disk0", "disk0"}};
    for (const auto& [typed, name] : names)
        EXPECT_EQ(agentDiskName(typed, disks), name) << typed;
}

// Exit statuses a script can rely on, --raw output that ends with a line feed, and no Ctrl-C
// hint where no one types it.
TEST(SensorsCli, ExitStatusesTellWhatHappened) {
    auto service = std::make_shared<testing::FakeService>();
    testing::ServedListener served(service);
    testing::TempDir scratch;
    const struct Case {
        std::string arguments;
        std::optional<std::string> document;
        int status;
        std::string output;
        std::string before = "";
    } cases[] = {
        {"--raw snapshot", R"({"version":2})", 0, "{\"version\":2}\n"},
        {"--raw snapshot >/dev/full", R"({"version":2})", 4, ""},
        {"manage checkForUpdates >/dev/full", R"({"state":"upToDate","version":"1.0"})", 4, ""},
        {"manage checkForUpdates", R"({"state":"failed","message":"offline"})", 6,
         "Update: failed\n  message: offline\n"},
        {"--endpoint /nonexistent/socket",
         {},
         1,
         "); start it with brivane-sensor-companion --install\n"},
        {"manage installUpdate",
         R"({"state":"failed","message":"This companion was installed by a distribution package and does not update itself: updates come from the system's package manager."})",
         0, "Updates come from the system's package manager"},
        {"watch --interval 0.2", R"({"version":2})", 0, "Every 0.2 s: brivane-sensors snapshot",
         "timeout --foreground -s INT --preserve-status 1 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        service->answerAtOnce(c.document);
        const auto shown = testing::runCommand({"sh", "-c",
                                                c.before + BRIVANE_SENSORS_CLI + " --endpoint " +
                                                    served.path() + " " + c.arguments + " 2>&1"},
                                               {"PATH=/usr/bin:/bin"}, scratch / "output");
        EXPECT_EQ(shown.status, c.status) << shown.output;
        EXPECT_NE(shown.output.find(c.output), std::string::npos) << shown.output;
        EXPECT_EQ(shown.output.find("Ctrl-C"), std::string::npos) << shown.output;
    }
}

// What a hostile agent sends, or a hostile process is named, never acts on the terminal: not
// in a view, watch, --json, --raw or an error. A document that does not decode is an error,
// never shown; one past the size a client takes is refused unread, saying why, by the views and
// the metrics alike; one long label among many rows is cut, not padded into every row.
TEST(SensorsCli, AHostileAgentsAnswersNeverActOnTheTerminal) {
    const std::string pwned = "\x1b]0;PWNED\a\x1b[2J";
    const std::string escaped = R"(\x1b]0;PWNED\x07\x1b[2J)";
    const std::string processes =
        R"({"ranked":[{"pid":4242,"name":"\u001b]0;PWNED\u0007\u001b[2J","usage":1048576}],)"
        R"("storage":[],"helperUID":1,"helperEffectiveUID":1})";
    const std::string snapshot = R"({"version":2,"helperUID":1,"helperEffectiveUID":1,"fans":[],)"
                                 R"("temperatures":[{"key":"nct6775/CPU\nFAN","value":41})";
    std::string longLabel =
        snapshot + R"(,{"key":"nct/)" + std::string(1 << 20, 'x') + R"(","value":41})";
    for (int row = 0; row < 200; ++row) {
        longLabel += R"(,{"key":"TC0P","value":41})";
    }
    const std::string raw = "{\"key\":\"" + pwned + "\"}";
    const std::string oversized(AgentConnection::maximumDocumentBytes + 1, ' ');
    const std::string refused = "larger than a document may be (4 MiB)";
    auto service = std::make_shared<testing::FakeService>();
    testing::ServedListener served(service);
    testing::TempDir scratch;
    const std::string endpoint = "$0 --endpoint " + served.path() + " ";
    const struct Case {
        std::string command;
        std::optional<std::string> document;
        int status;
        std::string shown;
    } cases[] = {
        {endpoint + "processes memory", processes, 0, escaped},
        {endpoint + "--json processes memory", processes, 0, R"(\u001b]0;PWNED\u0007\u001b[2J)"},
        {endpoint + "snapshot", snapshot + "]}", 0, R"(nct6775/CPU\x0aFAN)"},
        {endpoint + "--raw snapshot", "{\"key\":\"\u009b2J\"}", 0, R"({"key":"\u009b2J"})"},
        {endpoint + "--raw snapshot", raw, 3, "the agent's answer is not a JSON document"},
        {endpoint + "snapshot", raw, 3, "the agent's answer to snapshot did not decode"},
        {"timeout --foreground -s INT --preserve-status 2 " + endpoint +
             "watch --interval 0.2 processes memory",
         processes, 0, escaped},
        {"$0 --endpoint '/nonexistent/" + pwned + "'", {}, 1, "/nonexistent/" + escaped},
        {endpoint + "snapshot", longLabel + "]}", 0, "nct/" + std::string(59, 'x') + "\u2026  "},
        {endpoint + "snapshot", oversized, 3, refused},
        {endpoint + "metrics", oversized, 3, refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command.substr(0, 100));
        service->answerAtOnce(c.document);
        const auto run =
            testing::runCommand({"sh", "-c", c.command + " 2>&1", BRIVANE_SENSORS_CLI},
                                {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"}, scratch / "output");
        const auto shown = run.output.substr(0, 2000);
        EXPECT_EQ(run.status, c.status) << shown;
        EXPECT_NE(run.output.find(c.shown), std::string::npos) << shown;
        EXPECT_LT(run.output.size(), 64u * 1024);
        for (const std::string acting : {"\x1b", "\a", "\xC2\x9B", "\nFAN"}) {
            EXPECT_EQ(run.output.find(acting), std::string::npos) << shown;
        }
    }
}

// A request's process loads only what a request uses: none of the agent's back ends' libraries,
// and neither the cryptography library (a kept verdict on the agent needs none) nor terminfo (a
// pipe needs none), which it opens when it needs them.
TEST(SensorsCli, TheClientLinksNoneOfTheAgentsLibraries) {
    testing::TempDir scratch;
    const auto libraries = testing::runCommand({"ldd", BRIVANE_SENSORS_CLI}, {"PATH=/usr/bin:/bin"},
                                               scratch / "output");
    ASSERT_EQ(libraries.status, 0);
    for (const char* library : {"libcurl", "libplist", "libcrypto", "libtinfo"})
        EXPECT_EQ(libraries.output.find(library), std::string::npos) << libraries.output;
}

// On a 40x120 pseudo-terminal, interrupted as Ctrl-C would. timeout runs in the foreground so
// that the CLI alone gets one SIGINT (a second one ends a watch at once).
TEST(SensorsCliWatch, RedrawsUntilInterruptedAndRestoresTheTerminal) {
    const std::string document =
        R"({"version":2,"temperatures":[{"key":"TC0P","value":41}],"fans":[],"helperUID":1,)"
        R"("helperEffectiveUID":1})";
    auto service = std::make_shared<testing::FakeService>();
    service->answerAtOnce(document);
    testing::ServedListener served(service);
    testing::TempDir scratch;
    const struct Case {
        const char* name;
        const char* term;
        std::string arguments;
        std::string frame; // once per frame
        std::string first; // what the output starts with
        std::string last;  // what it ends with
    } cases[] = {
        {"view", "xterm", "--endpoint " + served.path() + " watch --interval 0.1", "TC0P",
         "\x1b[?1049h\x1b[22;0;0t\x1b[?25l\x1b[?7l\x1b[H",
         "\x1b[J\x1b[?7h\x1b[?12l\x1b[?25h\x1b[?1049l\x1b[23;0;0t"},
        {"dumb terminal", "dumb", "--endpoint " + served.path() + " watch --interval 0.1", "TC0P",
         "Every 0.1 s: brivane-sensors snapshot", "\r\n"},
        {"JSON lines", "xterm", "watch --raw --interval=0.1 --endpoint " + served.path(),
         document + "\r\n", document + "\r\n", document + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto watched = testing::runCommand(
            {"script", "-qec",
             "stty rows 40 cols 120 && exec timeout --foreground -s INT --preserve-status 2 " +
                 std::string(BRIVANE_SENSORS_CLI) + " " + c.arguments,
             "/dev/null"},
            {"PATH=/usr/bin:/bin", std::string("TERM=") + c.term}, scratch / "output",
            std::chrono::seconds(20));
        EXPECT_EQ(watched.status, 0) << watched.output;
        EXPECT_TRUE(watched.output.starts_with(c.first) && watched.output.ends_with(c.last))
            << watched.output;
        EXPECT_EQ(watched.output.find('\x1b') != std::string::npos, std::string(c.name) == "view")
            << watched.output;
        std::size_t frames = 0;
        for (auto at = watched.output.find(c.frame); at != std::string::npos;
             at = watched.output.find(c.frame, at + 1)) {
            ++frames;
        }
        EXPECT_GE(frames, 3u) << watched.output;
    }
}

} // namespace
} // namespace brivane::cli
