#include "backends/linux/hwmon/hwmon_hardware_monitor.h"
#include "backends/linux/polling/poller_test_support.h"
#include "backends/linux/sysfs_ioreport_source.h"
#include "backends/linux/sysfs_registry.h"
#include "readers/energy_power_reader.h"
#include "smc/smc_test_support.h"
#include "support/child_process.h"
#include "support/sysfs_fixture.h"

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>

namespace brivane::platform::linux_backend {
namespace {

using testing::addHwmonChip;
using testing::CapturedLines;

// Firmware-backed chips go to the slow lane by name, a channel once slow stays there and is read
// no more than 2 % of the time, a cached chip is never read faster than its cache, and nothing
// is read once nobody has asked for 10 s.
TEST(SensorPoller, ReadsAtEachDriversPaceAndOnlyWhileClientsAsk) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/dell_smm_hwmon", "name=dell_smm;temp1_input=smm 45000"});
    addHwmonChip(sys, {"hwmon1", "platform/nct6775.656", "name=nct6798;temp1_input=30000"});
    addHwmonChip(sys, {"hwmon2", "platform/coretemp.0", "name=coretemp;temp1_input=smm 50000"});
    const auto clock = std::make_shared<ManualUptimeClock>();
    clockOfReads = clock.get();
    boardReads = 0;
    smmReads = 0;
    HwmonHardwareMonitor monitor(sys.path(), manual(clock));
    std::vector<int> boardReadsAt;
    for (int tick = 0; tick < 40; ++tick) { // half seconds; a client asks for the first 5 s
        if (tick < 10) {
            monitor.sample();
        }
        monitor.step();
        boardReadsAt.push_back(boardReads.load());
        clock->advance(0.5);
    }
    for (std::size_t tick = 3; tick < boardReadsAt.size(); ++tick) {
        EXPECT_LE(boardReadsAt[tick] - boardReadsAt[tick - 3], 1) << "at tick " << tick;
    }
    EXPECT_GE(boardReadsAt[28], 6);
    EXPECT_EQ(boardReadsAt[29], boardReadsAt.back());
    // Their half-second reads are due again after 25 s: the chip slow by name is read once, the
    // one found slow twice (its first read, beside the others', is not timed).
    EXPECT_EQ(smmReads, 3);
    monitor.sample();
    monitor.step();
    EXPECT_EQ(temperaturesOf(monitor.sample()),
              (Found{{"coretemp/temp1", 50}, {"dell_smm/temp1", 45}, {"nct6798/temp1", 30}}));
}

// Clients asking every `every` s from `from` until `until`, on a clock of tenths that the
// firmware chip's half-second reads move on: when the board chip is read from 30 s on, how many
// requests from 40 s on lacked a value, and how often reading rested.
struct Client {
    double every, from, until;
};
std::tuple<std::vector<double>, int, int> paceFor(const std::vector<Client>& clients) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/dell_smm_hwmon", "name=dell_smm;temp1_input=smm 45000"});
    addHwmonChip(sys, {"hwmon1", "platform/nct6775.656", "name=nct6798;temp1_input=30000"});
    const auto clock = std::make_shared<ManualUptimeClock>(0);
    clockOfReads = clock.get();
    int missing = 0, rests = 0;
    auto setup = manual(clock);
    setup.resting = [&rests] { ++rests; };
    HwmonHardwareMonitor monitor(sys.path(), setup);
    std::vector<double> next(clients.size()), reads;
    // In tenths of a second: one step past wherever the last turn left the clock.
    for (long tenth = 0; tenth < 1100; tenth = std::lround(clock->uptime() * 10) + 1) {
        const double now = static_cast<double>(tenth) / 10;
        clock->set(now);
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (now + 1e-6 >= clients[i].from + next[i] && now <= clients[i].until) {
                const bool whole = monitor.sample().temperatures.size() == 2;
                missing += now >= 40 && !whole ? 1 : 0;
                next[i] += clients[i].every;
            }
        }
        const int before = boardReads;
        monitor.step();
        if (now >= 30 && boardReads != before) {
            reads.push_back(now);
        }
    }
    return {reads, missing, rests};
}

// A steady client slower than the refresh (the recorder) has the lanes read once just before
// each of its requests, the firmware chip's value present at each, and not rest; reading rests
// when it stops. Frequent clients, alone or beside it, keep reads at the driver's pace (2 s).
TEST(SensorPoller, PacesItsReadsToASteadyClient) {
    const auto [steady, missing, rests] = paceFor({{10, 0, 200}});
    EXPECT_EQ(steady.size(), 8u);
    EXPECT_TRUE(std::ranges::all_of(steady, [](double at) { return std::fmod(at, 10) >= 8.9; }));
    EXPECT_EQ(missing + rests, 0);
    const auto [stopping, stoppedMissing, stopped] = paceFor({{10, 0, 60}});
    EXPECT_TRUE(stopped == 1 && stopping.back() < 70);
    for (const auto& frequent : {std::vector<Client>{{1, 0, 200}}, {{1, 0, 200}, {10, 0.5, 200}}}) {
        const auto [reads, missed, rested] = paceFor(frequent);
        EXPECT_TRUE(reads.size() >= 35 && missed + rested == 0) << reads.size();
    }
}

TEST(SensorPoller, ChipsThatComeAndGoAreFoundWhileClientsAsk) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", "name=coretemp;temp1_input=40000"});
    int events[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, events), 0);
    posix::FileDescriptor sender(events[0]);
    const auto clock = std::make_shared<ManualUptimeClock>();
    auto setup = manual(clock, testing::scriptedPread);
    setup.openUevents = [receiver = events[1]] { return posix::FileDescriptor(receiver); };
    HwmonHardwareMonitor monitor(sys.path(), setup);
    const auto keys = [&] {
        monitor.sample();
        monitor.step();
        std::vector<std::string> found;
        for (const auto& t : monitor.sample().temperatures) {
            found.emplace_back(t.key);
        }
        return found;
    };
    EXPECT_EQ(keys(), std::vector<std::string>{"coretemp/temp1"});

    // A USB cooler: found on the kernel's event, not on every snapshot.
    addHwmonChip(sys, {"hwmon1", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/0003:1E71:2007.0003",
                       "name=kraken3;temp1_label=Coolant temp;temp1_input=31000"});
    EXPECT_EQ(keys().size(), 1u);
    const char event[] = "add@/devices/x/hwmon/hwmon1\0ACTION=add\0SUBSYSTEM=hwmon";
    ASSERT_EQ(::send(sender.get(), event, sizeof event, 0), static_cast<ssize_t>(sizeof event));
    EXPECT_EQ(keys(), (std::vector<std::string>{"coretemp/temp1", "kraken3@1-4:1.0/Coolant temp"}));

    // A driver probed again: its old node's kept file reads ENODEV (one refresh later), and the
    // pass after that finds the new node.
    sys.write("devices/platform/coretemp.0/hwmon/hwmon0/temp1_input", "!19\n");
    std::filesystem::remove(sys / "class/hwmon/hwmon0");
    addHwmonChip(sys, {"hwmon5", "platform/coretemp.0", "name=coretemp;temp1_input=41000"});
    for (int refresh = 0; refresh < 2; ++refresh) {
        clock->advance(1);
        keys();
    }
    EXPECT_EQ(temperaturesOf(monitor.sample()).front(), (Found::value_type{"coretemp/temp1", 41}));
}

// A FIFO planted in the tree cannot hold discovery; a read that blocks holds neither a request
// nor the other sensors, and is reported once; a slow chip never holds the first snapshot.
TEST(SensorPoller, ABlockingFileHoldsNeitherRequestsNorOtherSensors) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", "name=coretemp;temp1_input=40000"});
    addHwmonChip(sys, {"hwmon1", "platform/it87.2656", "name=it8688;temp1_input=gate 41000"});
    addHwmonChip(sys, {"hwmon2", "platform/nct6775.656", "name=nct6798;temp1_input=32000"});
    addHwmonChip(sys, {"hwmon3", "platform/dell_smm_hwmon", "name=dell_smm;temp1_input=gate 1"});
    addHwmonChip(sys, {"hwmon4", "platform/pipe.0", "temp1_input=35000"});
    ASSERT_EQ(::mkfifo((sys / "devices/platform/pipe.0/hwmon/hwmon4/name").c_str(), 0644), 0);
    ASSERT_EQ(
        ::mkfifo((sys / "devices/platform/coretemp.0/hwmon/hwmon0/temp2_input").c_str(), 0644), 0);
    testing::addPowerSupply(sys, "BAT0", "platform/BAT0", "type=Battery;voltage_now=gate 1");
    CapturedLines reported;
    SensorPoller::Setup setup{.pread = timedPread};
    setup.timing.firstWait = 0.25; // the pass cannot end: a file on it blocks
    setup.timing.stuckAfter = 1;
    setup.timing.rediscoverEvery = 1;
    setup.report = reported.sink();
    HwmonHardwareMonitor monitor(sys.path(), setup);
    SysfsRegistry registry(sys.path(), setup);

    const auto shown = [&](std::size_t count) {
        return testing::pollUntil(std::chrono::seconds(10),
                                  [&] { return temperaturesOf(monitor.sample()).size() == count; });
    };
    EXPECT_TRUE(shown(2)); // the pass does not wait on the blocked files
    EXPECT_EQ(temperaturesOf(monitor.sample()),
              (Found{{"coretemp/temp1", 40}, {"nct6798/temp1", 32}}));
    const auto battery = registry.firstEntry("AppleSmartBattery");
    ASSERT_NE(battery, nullptr);
    EXPECT_EQ(battery->numberProperty("Voltage"), std::nullopt);
    const std::vector<std::string> files = {"class/hwmon/hwmon1/temp1_input",
                                            "class/hwmon/hwmon3/temp1_input",
                                            "class/power_supply/BAT0/voltage_now"};
    std::string lines; // the registry's stuck read is seen by its next lookup
    const auto mentioned = [&](const std::string& file) {
        std::size_t count = 0;
        for (auto at = lines.find(file); at != lines.npos; at = lines.find(file, at + 1)) {
            ++count;
        }
        return count;
    };
    EXPECT_TRUE(testing::pollUntil(std::chrono::seconds(10), [&] {
        registry.firstEntry("AppleSmartBattery");
        monitor.sample();
        for (auto& line : reported.take()) {
            EXPECT_NE(line.find(" did not answer within 1 s; "), line.npos) << line;
            lines += line + "\n";
        }
        return std::ranges::all_of(files, [&](const auto& file) { return mentioned(file) > 0; });
    }));
    for (const auto& file : files) {
        EXPECT_EQ(mentioned(file), 1u) << lines; // reported once
    }
    gate.set_value();
    EXPECT_TRUE(testing::pollUntil(std::chrono::seconds(10), [] { return readsAtTheGate == 0; }));
    EXPECT_TRUE(shown(4)); // the chips that answered at last, from the next timed walk on
}

// Under a sanitizer, starting the fresh lanes alone takes longer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::chrono::milliseconds snapshotLimit{400};
#else
constexpr std::chrono::milliseconds snapshotLimit{100};
#endif

// A hwmon input, a card file, an energy counter and the NVIDIA library each take 5 s: the first
// snapshot waits for the lanes' first pass once for all back ends (one firstWait, not three),
// every later look stays under 100 ms, a chip with 20 hung inputs costs one report (one
// thread), and the other chip's value stays current. The first wait is long beside the time
// six lanes take to start on a busy machine, so that one deadline is told from three.
TEST(SensorPoller, HungReadsHoldNoSnapshot) {
    testing::TempDir sys;
    std::string hung = "name=coretemp";
    for (int input = 1; input <= 20; ++input) {
        hung += ";temp" + std::to_string(input) + "_input=hang 40000";
    }
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", hung});
    addHwmonChip(sys, {"hwmon1", "pci0000:00/0000:00:18.3", "name=k10temp;temp1_input=31000"});
    addHwmonChip(sys, {"hwmon2", "platform/ina.0", "name=ina238;energy1_input=hang 5"});
    testing::addGraphicsCard(sys, 0, "0000:03:00.0", "amdgpu", "gpu_busy_percent=hang 50");
    testing::addGraphicsCard(sys, 1, "0000:02:00.0", "nvidia", "");
    CapturedLines reported;
    SensorPoller::Setup setup{.pread = testing::scriptedPread,
                              .report = reported.sink(),
                              .demand = std::make_shared<SharedDemand>()};
    setup.timing.stuckAfter = 1;
    setup.timing.slowRead = 1; // a busy test machine makes no other file slow
    setup.timing.firstWait = 0.5;
    const std::chrono::duration<double> firstWait(setup.timing.firstWait);
    HwmonHardwareMonitor monitor(sys.path(), setup);
    SysfsRegistry registry(sys.path(), setup, BRIVANE_TEST_FAKE_NVML);
    EnergyPowerReader energy(std::make_shared<SysfsIOReportSource>(
                                 sys.path(), testing::scriptedPread, "/proc", CpuSampling{}, setup),
                             std::make_shared<ManualUptimeClock>());
    for (int round = 0; round < 25; ++round) {
        if (round == 15) {
            sys.write("devices/pci0000:00/0000:00:18.3/hwmon/hwmon1/temp1_input", "32000\n");
        }
        const auto began = std::chrono::steady_clock::now();
        monitor.sample();
        registry.matchingEntries("IOAccelerator")->next();
        registry.firstEntry("AppleSmartBattery");
        energy.read();
        const auto took = std::chrono::steady_clock::now() - began;
        EXPECT_LT(took, round == 0 ? 2 * firstWait : snapshotLimit) << "round " << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(temperaturesOf(monitor.sample()), (Found{{"k10temp@0000:00:18.3/temp1", 32}}));
    ASSERT_FALSE(monitor.sample().sources.empty());
    EXPECT_EQ(monitor.sample().sources[0].name + (monitor.sample().sources[0].up ? "" : " down"),
              "hwmon down");
    const auto lines = reported.take();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& line) { return line.find("hwmon0") != line.npos; }),
              1);
}

// 2,000 thermal zones of which 300 hang: they are set aside together after one wait, in one
// line, and the 1,700 others are read from the first pass on and stay fresh at every request.
TEST(SensorPoller, ManyHungDevicesCostOneWaitTogether) {
    static std::mutex mutex;
    static std::condition_variable opened;
    static bool open = false;
    static std::atomic<int> held{0};
    const auto holding = +[](int fd, void* buffer, std::size_t size, off_t offset) -> ssize_t {
        char first = 0;
        if (::pread(fd, &first, 1, 0) == 1 && first == 'h') {
            ++held;
            std::unique_lock lock(mutex);
            opened.wait(lock, [] { return open; });
            --held;
            errno = EIO;
            return -1;
        }
        return ::pread(fd, buffer, size, offset);
    };
    testing::TempDir sys;
    for (int zone = 0; zone < 2000; ++zone) {
        sys.writeFiles("class/thermal/thermal_zone" + std::to_string(zone),
                       "type=SEN;temp=" + (zone % 20 < 3 ? "held" : std::to_string(20000 + zone)));
    }
    const auto clock = std::make_shared<ManualUptimeClock>();
    CapturedLines reported;
    HwmonHardwareMonitor monitor(sys.path(), {.clock = clock,
                                              .pread = holding,
                                              .keptLimit = 2000, // every read through `holding`
                                              .report = reported.sink(),
                                              .background = false});
    std::vector<std::size_t> shown;
    auto stepping = std::async(std::launch::async, [&] {
        for (int second = 0; second < 10; ++second) {
            shown.push_back(monitor.sample().temperatures.size());
            monitor.step();
            clock->advance(1);
        }
        return monitor.sample().sources.at(0).up;
    });
    const bool passed = stepping.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    {
        const std::lock_guard lock(mutex);
        open = true;
    }
    opened.notify_all();
    EXPECT_TRUE(passed) << "a pass waited on the hung zones one after another";
    EXPECT_FALSE(stepping.get());
    EXPECT_EQ(std::count(shown.begin() + 1, shown.end(), 1700), 9);
    const auto lines = reported.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("Sensor files of 300 devices (class/thermal/thermal_zone0/"
                                     "temp, class/thermal/thermal_zone1/temp, "))
        << lines[0];
    EXPECT_TRUE(testing::pollUntil(std::chrono::seconds(10), [] { return held == 0; }));
}

// A walk held up by one chip is left behind: the others are found at once, the chip again when
// its read returns, and a chip added later on the timer.
TEST(SensorPoller, DiscoveryRecoversFromAHungWalk) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/a.0", "name=a"});
    addHwmonChip(sys, {"hwmon1", "platform/b.0", "name=b"});
    std::atomic<int> walks{0};
    using Names = std::vector<std::string>;
    SensorPoller::Setup setup{.classFolders = {"class/hwmon"}, .report = [](std::string_view) {}};
    setup.timing.stuckAfter = 0.3;
    setup.timing.rediscoverEvery = 1;
    CatalogPoller<Names> poller(
        sys.path(),
        [&walks](const std::shared_ptr<ChannelSet>& set) {
            const bool first = walks++ == 0;
            auto names = std::make_shared<Names>();
            for (const auto& node : set->root().list("class/hwmon")) {
                if (const auto name =
                        set->root().readText(("class/hwmon/" + node + "/name").c_str())) {
                    names->emplace_back(posix::withoutNewline(*name));
                    if (first && node == "hwmon0") {
                        std::this_thread::sleep_for(
                            std::chrono::milliseconds(1500)); // a read that hangs, once
                    }
                }
            }
            return std::shared_ptr<const Names>(std::move(names));
        },
        setup);
    const auto found = [&](const Names& names) {
        return testing::pollUntil(std::chrono::seconds(5), [&] {
            const auto current = poller.current();
            return current && *current == names;
        });
    };
    EXPECT_TRUE(found({"b"}));
    EXPECT_FALSE(poller.up());
    EXPECT_TRUE(found({"a", "b"}));
    EXPECT_TRUE(poller.up());
    addHwmonChip(sys, {"hwmon2", "platform/c.0", "name=c"});
    EXPECT_TRUE(found({"a", "b", "c"}));
}

// A driver that answers ENODEV or EPERM for a moment (a card resetting, a chip probed again)
// costs no sensor. A file that keeps failing is retired after three reads over 5 s, logged once,
// read again 30 s later and then less and less often, counted by the gauge meanwhile, and is
// back, logged once more, at the first look that finds it answering.
TEST(SensorPoller, OnlyFilesThatKeepFailingAreRetiredAndTheyAreLookedAtAgain) {
    static std::atomic<int> refusedReads{0};
    const auto counting = +[](int fd, void* buffer, std::size_t size, off_t offset) -> ssize_t {
        char path[256] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        if (::readlink(link.c_str(), path, sizeof path - 1) > 0 && std::strstr(path, "temp3")) {
            ++refusedReads;
        }
        return testing::scriptedPread(fd, buffer, size, offset);
    };
    testing::TempDir sys;
    const std::string chip = "devices/platform/coretemp.0/hwmon/hwmon0/";
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0",
                       "name=coretemp;temp1_input=40000;temp2_input=!19;temp3_input=!1;"
                       "temp4_input=!1"});
    const auto clock = std::make_shared<ManualUptimeClock>();
    CapturedLines reported;
    HwmonHardwareMonitor monitor(
        sys.path(),
        {.clock = clock, .pread = counting, .report = reported.sink(), .background = false});
    std::vector<std::size_t> shown, retired;
    int readsBeforeItAnswers = 0;
    for (int second = 0; second < 300; ++second) {
        if (second == 3) {
            sys.write(chip + "temp2_input", "41000\n");
            sys.write(chip + "temp4_input", "43000\n");
        } else if (second == 100) {
            sys.write(chip + "temp3_input", "42000\n");
        } else if (second == 200) {
            readsBeforeItAnswers = refusedReads;
        }
        const auto& sample = monitor.sample();
        shown.push_back(sample.temperatures.size());
        retired.push_back(sample.sources.at(0).retiredFiles);
        monitor.step();
        clock->advance(1);
    }
    EXPECT_EQ(std::count(shown.begin() + 5, shown.begin() + 215, 3), 210); // all but temp3
    EXPECT_EQ(shown.back(), 4u);
    EXPECT_EQ(std::count(retired.begin() + 6, retired.begin() + 216, 1), 210);
    EXPECT_EQ(retired.back(), 0u);
    EXPECT_EQ(readsBeforeItAnswers, 6 + 2); // until retired, then after 30 and 60 s more
    const std::string file = "Sensor file class/hwmon/hwmon0/temp3_input ";
    EXPECT_EQ(reported.take(), (std::vector<std::string>{
                                   file + "keeps failing (reading it is not permitted); it is "
                                          "looked at again now and then, and read again once it "
                                          "answers.",
                                   file + "answers again."}));
}

} // namespace
} // namespace brivane::platform::linux_backend
