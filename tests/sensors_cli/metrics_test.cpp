#include "e2e/http_get.h"
#include "formats/document_codec.h"
#include "ipc/ipc_test_support.h"
#include "listen_address.h"
#include "metrics_commands.h"
#include "metrics_exporter.h"
#include "metrics_text.h"
#include "platform/host/file_descriptor.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brivane::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

// The sample lines of one scrape's text, without # HELP and # TYPE.
std::vector<std::string> samples(const SensorSnapshot* snapshot,
                                 const std::vector<ProcessEnergy>& busiest = {}) {
    std::vector<std::string> lines;
    std::istringstream in(exposition(metricFamilies(snapshot, 0.25, busiest)));
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("#")) {
            lines.push_back(line);
        }
    }
    return lines;
}

// One reading of every kind, with labels that need escaping.
SensorSnapshot fullSnapshot() {
    SensorSnapshot snapshot;
    snapshot.temperatures = {{"TC0P", 45.5},
                             {"coretemp@0000:00:18.3/Core 0", 50},
                             {"nvme/say \"hi\" C:\\ two\nlines/x", 30},
                             {"BatteryTemperature", 31}};
    snapshot.fans = {{0, "Lüfter ✓", 1200, 5000},
                     {1, std::nullopt, 900, std::nullopt},
                     {4, "thinkpad/fan1", 2900, std::nullopt}};
    snapshot.power = {{{"PSTR", 9.5},
                       {"CPUModelPower", 2},
                       {"amdgpu/PPT", 19},
                       {"BatteryVoltage", 12.5},
                       {"BatteryVoltage", 12}}};
    snapshot.energy = {{{"CPUEnergy", 1234.5}}};
    snapshot.graphics = {{0.5, 0.25, std::nullopt}};
    snapshot.accessories = {
        {{"Mouse", std::nullopt, 0.5}, {"Mouse", std::nullopt, 0.25}, {"Buds", "Left", 0.75}}};
    snapshot.companionVersion = "1.2.3";
    snapshot.battery = {{0.5, "discharging", 4.83, 7200, std::nullopt, std::nullopt, 312}};
    return snapshot;
}

TEST(MetricsText, EveryReadingIsOneSeriesWithItsUnitAndEscapedLabels) {
    const auto snapshot = fullSnapshot();
    const std::vector<std::string> expected = {
        "brivane_up 1",
        "brivane_scrape_duration_seconds 0.25",
        R"(brivane_companion_info{version="1.2.3"} 1)",
        R"(brivane_temperature_celsius{chip="smc",sensor="TC0P",label="CPU proximity"} 45.5)",
        R"(brivane_temperature_celsius{chip="coretemp@0000:00:18.3",sensor="Core 0"} 50)",
        R"(brivane_temperature_celsius{chip="nvme",sensor="say \"hi\" C:\\ two\nlines/x"} 30)",
        R"(brivane_temperature_celsius{chip="battery",sensor="BatteryTemperature"} 31)",
        R"(brivane_fan_speed_rpm{chip="smc",sensor="Lüfter ✓"} 1200)",
        R"(brivane_fan_speed_rpm{chip="smc",sensor="F1"} 900)",
        R"(brivane_fan_speed_rpm{chip="thinkpad",sensor="fan1"} 2900)",
        R"(brivane_fan_max_speed_rpm{chip="smc",sensor="Lüfter ✓"} 5000)",
        // The model power averages over another client's window; its counter stands in.
        R"(brivane_power_watts{chip="smc",sensor="PSTR"} 9.5)",
        R"(brivane_power_watts{chip="amdgpu",sensor="PPT"} 19)",
        "brivane_battery_voltage_volts 12.5",
        R"(brivane_energy_joules_total{chip="energy_model",sensor="CPUEnergy"} 1234.5)",
        R"(brivane_gpu_utilization_ratio{unit="device"} 0.5)",
        R"(brivane_gpu_utilization_ratio{unit="renderer"} 0.25)",
        // A series twice in one scrape would make consumers reject the whole scrape.
        R"(brivane_accessory_battery_ratio{name="Mouse"} 0.5)",
        R"(brivane_accessory_battery_ratio{name="Mouse #2"} 0.25)",
        R"(brivane_accessory_battery_ratio{name="Buds",part="Left"} 0.75)",
        "brivane_battery_level_ratio 0.5",
        R"(brivane_battery_state{state="discharging"} 1)",
        "brivane_battery_power_watts 4.83",
        "brivane_battery_time_to_empty_seconds 7200",
        "brivane_battery_charge_cycles 312",
        R"(brivane_process_energy_impact{name="make"} 3)",
    };
    EXPECT_EQ(samples(&snapshot, {{"make", 3}}), expected);

    EXPECT_EQ(samples(nullptr),
              (std::vector<std::string>{"brivane_up 0", "brivane_scrape_duration_seconds 0.25"}));
}

TEST(MetricsText, EveryFamilyIsDocumentedAndLintClean) {
    const auto snapshot = fullSnapshot();
    const auto families = metricFamilies(&snapshot, 0.25, {{"make", 3}});
    testing::TempDir directory;
    directory.write("scrape.prom", exposition(families));
    const auto command = "promtool check metrics < " + directory / "scrape.prom" + " > " +
                         directory / "lint" + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::stringstream lint, documentation;
    lint << std::ifstream(directory / "lint").rdbuf();
    EXPECT_EQ(lint.str(), "") << lint.str();
    documentation << std::ifstream(BRIVANE_SOURCE_DIR "/docs/metrics.md").rdbuf();
    for (const auto& family : families) {
        EXPECT_NE(documentation.str().find("| `" + family.name + "` |"), std::string::npos)
            << family.name;
    }
}

// 3,000 accessories of one name took 18 s per scrape when each suffix rescanned the samples.
TEST(MetricsText, ManySeriesOfOneNameStayCheap) {
    SensorSnapshot snapshot;
    snapshot.accessories.emplace(30'000, SensorSnapshot::AccessoryReading{"Pen", std::nullopt, 1});
    snapshot.accessories->push_back({"Pen #3", std::nullopt, 1});
    const auto start = std::chrono::steady_clock::now();
    const auto lines = samples(&snapshot);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size());
    EXPECT_EQ(lines.back(), R"(brivane_accessory_battery_ratio{name="Pen #3 #2"} 1)");
}

// A textfile left with old readings would keep reporting them after the agent stopped.
TEST(MetricsCommands, AnUnreachableAgentStillReplacesTheFileWhole) {
    testing::TempDir directory;
    directory.write("brivane.prom", "brivane_up 1\nbrivane_temperature_celsius 40\n", 0600);
    CliOptions options;
    options.action = CliOptions::Action::metrics;
    options.endpoint = directory / "no-agent";
    options.output = directory / "brivane.prom";
    EXPECT_EQ(runMetrics(options), 1);

    std::stringstream text;
    text << std::ifstream(*options.output).rdbuf();
    EXPECT_NE(text.str().find("\nbrivane_up 0\n"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("celsius"), std::string::npos) << text.str();
    EXPECT_EQ(fs::status(*options.output).permissions(), fs::perms(0644));
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);

    options.output = directory / "missing/brivane.prom";
    EXPECT_EQ(runMetrics(options), 4);
}

// A writer stopped while it replaces the file leaves the old file or the new one and nothing
// beside it; a target name of 255 bytes, the most a folder takes, can be written.
TEST(MetricsCommands, ReplacingTheOutputLeavesNothingBesideItAndTakesTheLongestNames) {
    testing::TempDir directory;
    const std::string target = directory / std::string(255, 'n');
    std::string problem;
    ASSERT_TRUE(writeFileAtomically(target, "first\n", problem)) << problem;
    const std::string text(4 << 20, 'x');
    std::minstd_rand random(21);
    for (int run = 0; run < 20; ++run) {
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (std::string ignored;;) {
                writeFileAtomically(target, text, ignored);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 20000));
        ::kill(writer, SIGTERM);
        int status = 0;
        ::waitpid(writer, &status, 0);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);
}

TEST(ListenAddress, TakesAnIpAddressAndAPort) {
    const std::pair<std::string_view, const char*> cases[] = {
        {"127.1.2.3:9464", "127.1.2.3:9464 loopback"},
        {"localhost:9464", "127.0.0.1:9464 loopback"},
        {"0.0.0.0:9464", "0.0.0.0:9464"},
    };
    for (const auto& [text, parsed] : cases) {
        const auto address = parseListenAddress(text);
        ASSERT_TRUE(address) << text;
        EXPECT_EQ(address->text() + (address->loopback ? " loopback" : ""), parsed);
    }
    for (const auto text : {"[::1]:9464"sv, "127.0.0.1\0x:9464"sv, "9464"sv, "127.0.0.1:65536"sv,
                            "127.0.0.1:+1"sv, "::1:9464"sv, "example.org:9464"sv}) {
        EXPECT_FALSE(parseListenAddress(text)) << text;
    }
}

std::string snapshotNaming(const std::string& accessory) {
    SensorSnapshot snapshot;
    snapshot.accessories = {{{accessory, std::nullopt, 0.5}}};
    return encode(snapshot);
}

// An exporter on a free loopback port in front of the agent at endpoint.
struct ServedExporter {
    explicit ServedExporter(const std::string& endpoint, int timeoutMs = 5000) {
        auto agent = std::make_shared<AgentSnapshots>(endpoint, timeoutMs);
        std::string problem;
        exporter = MetricsExporter::start(
            *parseListenAddress("127.0.0.1:0"), [agent] { return agent->fetch(); }, problem);
        EXPECT_TRUE(exporter) << problem;
    }
    std::string scrape() const {
        return testing::httpGet("http://127.0.0.1:" + std::to_string(exporter->port()) +
                                "/metrics");
    }
    // The time a scrape took, after checking its answer.
    std::chrono::milliseconds timedScrape(std::string_view expected) const {
        const auto start = std::chrono::steady_clock::now();
        const auto body = scrape();
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_NE(body.find(expected), std::string::npos) << body;
        return std::chrono::duration_cast<std::chrono::milliseconds>(took);
    }
    std::unique_ptr<MetricsExporter> exporter;
};

// Connections to the exporter that send `opening`, if anything, and then nothing.
std::vector<platform::host::FileDescriptor> hostileConnections(int port, int count,
                                                               std::string_view opening) {
    const sockaddr_in address{
        AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    std::vector<platform::host::FileDescriptor> fds;
    for (int i = 0; i < count; ++i) {
        const int fd =
            fds.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
                .get();
        if (fd < 0) {
            ADD_FAILURE() << std::strerror(errno);
            break;
        }
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        pollfd writable{fd, POLLOUT, 0};
        if (!opening.empty() && ::poll(&writable, 1, 1000) == 1) {
            ::send(fd, opening.data(), opening.size(), MSG_NOSIGNAL);
        }
    }
    return fds;
}

// Under a sanitizer every step takes longer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto slack = 400ms;
#else
constexpr auto slack = 100ms;
#endif

// Idle and trickling connections each held one of 32 workers for 30 s, and a crowd of
// connections, even closed, stopped the exporter from answering.
TEST(MetricsExporter, IdleTricklingAndAbandonedConnectionsLeaveRoomForScrapes) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < 6000) {
        GTEST_SKIP() << "needs 6000 descriptors";
    }
    auto service = std::make_shared<testing::FakeService>();
    service->answerAtOnce(snapshotNaming("Mouse"));
    testing::ServedListener agent(service);
    ServedExporter served(agent.path());
    const int port = served.exporter->port();
    {
        const auto idle = hostileConnections(port, 100, "");
        const auto trickling = hostileConnections(port, 100, "GET /metrics HTTP/1.1\r\nHo");
        EXPECT_LT(served.timedScrape("\nbrivane_up 1\n"), 1s);
    }
    hostileConnections(port, 5000, ""); // closed at once
    EXPECT_LT(served.timedScrape("\nbrivane_up 1\n"), 100ms + slack);
}

// A scrape arriving while a request is in flight shares its answer: none of forty loops waits
// more than one timeout, and the agent sees one request at a time.
TEST(MetricsExporter, AFrozenAgentCostsEveryScrapeAtMostOneTimeout) {
    auto service = std::make_shared<testing::FakeService>(); // holds every reply
    testing::ServedListener agent(service);
    const auto timeout = 1000ms;
    ServedExporter served(agent.path(), static_cast<int>(timeout.count()));
    const auto end = std::chrono::steady_clock::now() + 2500ms;
    std::vector<std::chrono::milliseconds> worst(40);
    std::vector<std::thread> loops;
    for (auto& longest : worst) {
        loops.emplace_back([&] {
            while (std::chrono::steady_clock::now() < end) {
                longest = std::max(longest, served.timedScrape("\nbrivane_up 0\n"));
            }
        });
    }
    for (auto& loop : loops) {
        loop.join();
    }
    EXPECT_LE(*std::max_element(worst.begin(), worst.end()), timeout + slack);
    EXPECT_LE(service->callCount(), 4u); // one request per timeout, not one per scrape
}

TEST(MetricsExporter, KeepsTheBusiestProcessesByNameFromOneRankingAMinute) {
    auto service = std::make_shared<testing::FakeService>();
    testing::ServedListener agent(service);
    AgentSnapshots snapshots(agent.path(), 5000, true);
    ProcessDetailsSnapshot ranking;
    ranking.ranked = {{1, "tab", 2}, {2, "make", 3}, {3, "tab", 2.5}};
    std::thread answers([&] {
        for (std::size_t call = 0; call < 3 && service->waitForCalls(call + 1); ++call) {
            service->take(call).reply(call == 1 ? encode(ranking) : snapshotNaming("Mouse"));
        }
    });
    const std::vector<ProcessEnergy> busiest{{"tab", 4.5}, {"make", 3}};
    EXPECT_EQ(snapshots.fetch().busiest, busiest);
    EXPECT_EQ(snapshots.fetch().busiest, busiest); // kept, not asked again
    answers.join();
    EXPECT_EQ(service->callCount(), 3u);
}

// A restart between two scrapes leaves the exporter's kept connection dead; the next scrape
// must reach the new agent all the same.
TEST(MetricsExporter, FollowsTheAgentAcrossRestartsAndAnswersUpZeroWhileItIsDown) {
    testing::TempDir directory;
    const auto endpoint = directory / "endpoint";
    ServedExporter served(endpoint);
    auto service = std::make_shared<testing::FakeService>();
    service->answerAtOnce(snapshotNaming("Mouse"));
    std::unique_ptr<testing::ServedListener> agent;
    for (const bool runs : {false, true, true, false, true}) {
        agent.reset();
        fs::remove(endpoint);
        if (runs) {
            agent = std::make_unique<testing::ServedListener>(service);
            directory.symlink("endpoint", agent->path());
        }
        const auto body = served.scrape();
        EXPECT_NE(body.find(runs ? "\nbrivane_up 1\n" : "\nbrivane_up 0\n"), std::string::npos)
            << body;
        EXPECT_EQ(body.find("Mouse") != std::string::npos, runs) << body;
    }
    EXPECT_EQ(service->callCount(), 3u);
}

} // namespace
} // namespace brivane::cli
