#include "platform/sensor_kinds.h"
#include "support/staged_agent.h"
#include "support/sysfs_fixture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

namespace brivane::testing {
namespace {

using nlohmann::json;

// What `sensors` shows and the agent leaves out on purpose: a class's "leftout" lines, a chip's
// files by prefix ("*" for all), and how many figures each left out.
struct Reason {
    std::string chip, filePrefix, reason;
    int uses = 0;
};

struct MachineClass {
    std::string name;
    std::vector<std::string> lines; // machine_classes.tree's lines after its "class"
    std::vector<Reason> leftOut;
};

std::vector<MachineClass> machineClasses() {
    std::vector<MachineClass> classes;
    std::ifstream file(BRIVANE_E2E_MACHINE_CLASSES);
    for (std::string line; std::getline(file, line);) {
        std::istringstream in(line);
        std::string word, first, second, reason;
        in >> word >> first >> second;
        std::getline(in >> std::ws, reason);
        if (word == "class") {
            classes.push_back({line.substr(6), {}, {}});
        } else if (word == "leftout") {
            classes.back().leftOut.push_back({first, second == "*" ? "" : second, reason});
        } else if (!line.empty() && line[0] != '#' && !classes.empty()) {
            classes.back().lines.push_back(line);
        }
    }
    return classes;
}

// Lays a class out with the links both readers follow: the device's subsystem (libsensors
// skips a device on a bus it does not know), an NVMe controller's PCI function, a zone's class.
void layOut(const TempDir& sys, const MachineClass& machine) {
    const auto link = [&](const std::string& at, const std::string& folder) {
        sys.makeDirectory(folder);
        if (!std::filesystem::is_symlink(sys / at)) {
            const std::filesystem::path target(folder);
            sys.symlink(
                at, target.lexically_relative(std::filesystem::path(at).parent_path()).string());
        }
    };
    for (const auto& line : machine.lines) {
        std::istringstream in(line);
        std::string word, first, second, third, rest;
        in >> word >> first;
        if (word == "files") {
            std::getline(in >> std::ws, rest);
            sys.writeFiles(first, rest);
            continue;
        }
        in >> second >> third;
        if (word == "zone") {
            const std::string zone = "devices/virtual/thermal/thermal_zone" + first;
            sys.writeFiles(zone, "type=" + second + ";temp=" + third);
            link("class/thermal/thermal_zone" + first, zone);
            continue;
        }
        std::getline(in >> std::ws, rest);
        const bool zoneTwin = second == "class/thermal";
        const bool supplyTwin = second.starts_with("supply/");
        addHwmonChip(sys, {first, third, rest, word == "legacy", zoneTwin || supplyTwin});
        const std::string device = "devices/" + third;
        link(device + "/subsystem", supplyTwin ? "class/power_supply" : second);
        if (second == "class/nvme") {
            const std::string function = device.substr(0, device.rfind("/nvme/"));
            sys.symlink(device + "/device", "../..");
            link(function + "/subsystem", "bus/pci");
        } else if (supplyTwin) {
            // A supply's twin: its node right below the supply, the supply below its device.
            const std::string parent = device.substr(0, device.rfind("/power_supply/"));
            sys.symlink(device + "/device", "../..");
            link(parent + "/subsystem", "bus/" + second.substr(7));
            link("class/power_supply/" + device.substr(device.rfind('/') + 1), device);
        } else if (zoneTwin) {
            sys.write(device + "/type", rest.substr(5, rest.find(';') - 5));
            link("class/thermal/" + device.substr(device.rfind('/') + 1), device);
        }
    }
}

enum Part { input, limit, alarm, other };
struct Item {
    std::string chip, type, what; // "nvme", "temperature", "crit" ("value", "crit_alarm")
    double value = 0;
    Part part = other;
    std::string file{}; // sensors -j's "temp1_crit"; empty for ours
    std::string sensorsChip{};
};

bool isOneOf(std::string_view item, const auto& items) {
    return std::find(items.begin(), items.end(), item) != items.end();
}
using platform::hwmonAlarmItems;
using platform::sensorLimitWords;

// Every number `sensors -j` shows, classified. Labels may repeat within a chip (two "Processor
// Fan"s), which a JSON object cannot hold: the document is taken as it is parsed.
std::vector<Item> shownBySensors(const std::string& text) {
    std::vector<Item> items;
    std::string chip, file;
    const json whole = json::parse(text, [&](int depth, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::key && (depth == 1 || depth == 3)) {
            (depth == 1 ? chip : file) = parsed.get<std::string>();
        } else if (event == json::parse_event_t::value && depth == 3 && parsed.is_number()) {
            const auto underscore = file.find('_');
            const auto stem = file.substr(0, underscore);
            // Families neither side reads (an amdgpu card's freq1) are not counted.
            const auto prefix = stem.substr(0, stem.find_first_of("0123456789"));
            const auto type =
                std::find_if(platform::sensorKinds.begin(), platform::sensorKinds.end(),
                             [&](const auto& kind) { return kind.hwmon.prefix == prefix; });
            if (type != platform::sensorKinds.end()) {
                items.push_back({chip.substr(0, chip.find('-')), std::string(type->type),
                                 file.substr(underscore + 1), parsed.get<double>(), other, file,
                                 chip});
            }
        }
        return true;
    });
    if (!whole.is_object()) {
        return {};
    }
    for (auto& item : items) {
        // A power's average is its reading only where it has no instantaneous one.
        const auto stem = item.file.substr(0, item.file.find('_'));
        const bool reading =
            item.what == "input" ||
            (item.what == "average" && std::none_of(items.begin(), items.end(), [&](auto& i) {
                 return i.sensorsChip == item.sensorsChip && i.file == stem + "_input";
             }));
        item.part = reading                                                       ? input
                    : isOneOf(item.what, sensorLimitWords)                        ? limit
                    : isOneOf(item.what, hwmonAlarmItems) || item.what == "fault" ? alarm
                                                                                  : other;
        item.what = reading ? "value" : item.what;
    }
    return items;
}

// The snapshot's `sensors` member in the same terms, chips by name alone; the Apple SMC's chip
// (applesmc, the only one the classes have) is carried by the SMC keys of `temperatures` and
// `fans` instead.
std::vector<Item> carriedByUs(const json& snapshot) {
    std::vector<Item> items;
    for (const auto& reading : snapshot.value("temperatures", json::array())) {
        if (reading["key"].get<std::string>().size() == 4) {
            items.push_back({"applesmc", "temperature", "value", reading["value"], input});
        }
    }
    for (const auto& fan : snapshot.value("fans", json::array())) {
        for (const auto& [what, member] :
             {std::pair{"value", "rpm"}, {"min", "minimumRPM"}, {"max", "maximumRPM"}}) {
            if (fan.contains(member) && fan.value("name", "").find('/') == std::string::npos) {
                items.push_back(
                    {"applesmc", "fan", what, fan[member], what[0] == 'v' ? input : limit});
            }
        }
    }
    for (const auto& sensor : snapshot.value("sensors", json::array())) {
        const auto key = sensor["key"].get<std::string>();
        const std::string chip = key.substr(0, key.find_first_of("@#/"));
        const std::string type = sensor["type"];
        if (sensor.contains("value")) {
            items.push_back({chip, type, "value", sensor["value"], input});
        }
        for (const std::string_view word : sensorLimitWords) {
            const std::string name(word);
            if (sensor.contains(name)) {
                items.push_back({chip, type, name, sensor[name], limit});
            }
        }
        const json alarms = sensor.value("alarms", json::object());
        for (const auto& [name, raised] : alarms.items()) {
            items.push_back({chip, type, name == "alarm" ? name : name + "_alarm",
                             raised.get<bool>() ? 1.0 : 0.0, alarm});
        }
        if (sensor.contains("fault")) {
            items.push_back({chip, type, "fault", sensor["fault"].get<bool>() ? 1.0 : 0.0, alarm});
        }
    }
    return items;
}

constexpr std::string_view noLimit = "limit at a driver's \"none\" marker (±127, −128 °C)";
constexpr std::string_view noThreshold = "limit at a driver's \"none\" marker (−273.15 °C)";

std::string_view whyLeftOut(MachineClass& machine, const Item& item) {
    for (auto& reason : machine.leftOut) {
        if (item.sensorsChip == reason.chip && item.file.starts_with(reason.filePrefix)) {
            ++reason.uses;
            return reason.reason;
        }
    }
    const bool marker = item.value == 127 || item.value == -127 || item.value == -128;
    return item.part != limit || item.type != "temperature" ? ""
           : item.value == -273.15                          ? noThreshold
           : marker                                         ? noLimit
                                                            : "";
}

struct Comparison {
    std::vector<std::string> missing;
    std::array<int, 4> shown{}, carried{}, excused{};
    std::set<std::string_view> reasons;
};

Comparison compare(MachineClass& machine, const std::vector<Item>& shown, std::vector<Item> ours) {
    Comparison result;
    for (const auto& item : ours) {
        ++result.carried[item.part];
    }
    for (const auto& item : shown) {
        ++result.shown[item.part];
        if (item.part == other) {
            continue;
        }
        const auto match = std::find_if(ours.begin(), ours.end(), [&](const Item& o) {
            return o.chip == item.chip && o.type == item.type && o.what == item.what &&
                   std::abs(o.value - item.value) < 5e-4;
        });
        if (match != ours.end()) {
            ours.erase(match);
        } else if (const auto reason = whyLeftOut(machine, item); !reason.empty()) {
            ++result.excused[item.part];
            result.reasons.insert(reason);
        } else {
            result.missing.push_back(item.sensorsChip + " " + item.file + " " +
                                     std::to_string(item.value));
        }
    }
    return result;
}

std::string counts(const std::array<int, 4>& n) {
    return std::to_string(n[input]) + " / " + std::to_string(n[limit]) + " / " +
           std::to_string(n[alarm]);
}

// Per machine class, the agent over the class's /sys against `sensors -j` over the same tree:
// every input, limit and alarm flag `sensors` shows is in the snapshot's `sensors` member with
// the same value, but what is left out on purpose, and every reason given still leaves out
// something; each back end is one source. Prints the table docs/linux-platform.md has.
TEST(SensorsComparison, TheSensorsMemberCarriesWhatSensorsShows) {
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        GTEST_SKIP() << problem;
    }
    if (std::string(BRIVANE_E2E_STATFS_SHIM).empty() ||
        !std::filesystem::exists("/usr/bin/sensors")) {
        GTEST_SKIP() << "needs sensors (lm-sensors) and the benchmarks' statfs shim";
    }
    std::ostringstream table;
    table << "| machine class | `sensors -j` inputs / limits / alarms (+ other) | `sensors` "
             "member | left out on purpose |\n|---|---|---|---|\n";
    for (auto& machine : machineClasses()) {
        SCOPED_TRACE(machine.name);
        StagedAgent staged({.bundle = BRIVANE_E2E_LINUX_BUNDLE,
                            .executables = {BRIVANE_E2E_CLI, BRIVANE_E2E_STATFS_SHIM},
                            .bindSys = true});
        layOut(staged.sysTree(), machine);
        ASSERT_NE(staged.startAgent(), nullptr);
        // libsensors reads only a file system with sysfs' magic number; no configuration, so
        // no label or scaling of its own.
        const auto sensors =
            staged.runOnMachine({"env", "LD_PRELOAD=" + staged.path("brivane_statfs_shim.so"),
                                 "sensors", "-j", "-c", "/dev/null"});
        ASSERT_EQ(sensors.status, 0) << sensors.output;
        const auto shown = shownBySensors(sensors.output);
        staged.cli({"cpu"}); // its reader asks for the counters too
        Comparison result;
        json snapshot;
        pollUntil(std::chrono::seconds(10), [&] {
            snapshot = json::parse(staged.cli({"--raw", "snapshot"}).output, nullptr, false);
            std::ranges::for_each(machine.leftOut, [](Reason& reason) { reason.uses = 0; });
            result = compare(machine, shown, carriedByUs(snapshot));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return result.missing.empty();
        });
        EXPECT_TRUE(result.missing.empty()) << ::testing::PrintToString(result.missing);
        for (const auto& reason : machine.leftOut) {
            EXPECT_GT(reason.uses, 0) << "carried after all: " << reason.chip << reason.filePrefix;
        }
        std::set<std::string> sources;
        for (const auto& source : snapshot.value("sources", json::array())) {
            EXPECT_TRUE(sources.insert(source["name"]).second) << "listed twice: " << source;
        }
        std::string reasons;
        for (const auto reason : result.reasons) {
            reasons += (reasons.empty() ? "" : "; ") + std::string(reason);
        }
        const auto& excused = result.excused;
        table << "| " << machine.name << " | " << counts(result.shown) << " (+"
              << result.shown[other] << ") | " << counts(result.carried) << " | "
              << (reasons.empty() ? "—" : counts(excused) + ": " + reasons) << " |\n";
    }
    std::cout << table.str();
}

} // namespace
} // namespace brivane::testing
