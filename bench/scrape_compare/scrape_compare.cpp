// `brivane-sensors export` against node_exporter's hwmon and powersupplyclass collectors, both
// started in this run over one fixture /sys: the watched machine (bench/watched_machine.h: 8
// hwmon chips with their drivers' limits and alarms) with its battery and mains adapter filled
// in as the ACPI drivers have them. Our agent and exporter and node_exporter run as nobody, each
// seeing the fixture as /sys; this program scrapes them in turns over kept HTTP connections and
// prints p50/p90 of each, their ratio (target: ours at least 10 times as fast), and what our
// exporter adds over the snapshot it formats (snapshot round trips timed by a staged copy of
// this program, as the agent's user).
//
//   scrape_compare [SCRAPES]           (as root; bench/scrape_compare/run)
//   scrape_compare --client ENDPOINT N (the client: N snapshot round trips in µs)

#include "../timed_snapshots.h"
#include "../watched_machine.h"
#include "support/staged_agent.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using brivane::testing::StagedAgent;
using Clock = std::chrono::steady_clock;

// A loopback port nobody listens on now.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

// One server's /metrics over one kept connection.
class Scraper {
public:
    explicit Scraper(int port)
        : url_("http://127.0.0.1:" + std::to_string(port) + "/metrics"),
          curl_(curl_easy_init(), curl_easy_cleanup) {
        curl_easy_setopt(curl_.get(), CURLOPT_URL, url_.c_str());
        curl_easy_setopt(curl_.get(), CURLOPT_WRITEFUNCTION, &Scraper::append);
        curl_easy_setopt(curl_.get(), CURLOPT_WRITEDATA, &body_);
        curl_easy_setopt(curl_.get(), CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_.get(), CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl_.get(), CURLOPT_TIMEOUT_MS, 10000L);
    }

    // Microseconds for one scrape answered 200, else nothing.
    std::optional<double> scrape() {
        body_.clear();
        const auto start = Clock::now();
        const bool served = curl_easy_perform(curl_.get()) == CURLE_OK;
        const std::chrono::duration<double, std::micro> took = Clock::now() - start;
        long status = 0;
        curl_easy_getinfo(curl_.get(), CURLINFO_RESPONSE_CODE, &status);
        if (!served || status != 200) {
            return std::nullopt;
        }
        times_.push_back(took.count());
        return took.count();
    }
    const std::string& body() const { return body_; }
    std::vector<double>& times() { return times_; }

private:
    static std::size_t append(char* data, std::size_t size, std::size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    }

    std::string url_;
    std::unique_ptr<CURL, void (*)(CURL*)> curl_;
    std::string body_;
    std::vector<double> times_;
};

// CPU time of all threads of a process so far, in microseconds.
double cpuMicroseconds(pid_t pid) {
    double total = 0;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream in(task.path() / "schedstat");
        double nanoseconds = 0;
        in >> nanoseconds;
        total += nanoseconds / 1000;
    }
    return total;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(values.size() * share))];
}

std::size_t series(const std::string& body) {
    std::size_t count = 0;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) {
        count += !line.empty() && line[0] != '#';
    }
    return count;
}

// The watched machine's battery with the rest of the attributes the ACPI battery driver has, and
// the AC driver's adapter.
void addLaptopSupplies(const brivane::testing::TempDir& sys) {
    sys.writeFiles(
        "devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0",
        "status=Discharging;present=1;"
        "technology=Li-ion;cycle_count=212;voltage_min_design=11400000;power_now=9870000;"
        "energy_full_design=57000000;energy_full=51300000;energy_now=40100000;capacity=78;"
        "capacity_level=Normal;model_name=5B10W13930;manufacturer=SMP;serial_number=1234;"
        "alarm=2850000");
    brivane::testing::addPowerSupply(sys, "AC", "LNXSYSTM:00/ACPI0003:00", "type=Mains;online=0");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--client") {
        return timeSnapshots(argv[2], std::atoi(argv[3]));
    }
    const int scrapes = argc > 1 ? std::atoi(argv[1]) : 500;
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    StagedAgent staged({.bundle = BRIVANE_LINUX_BUNDLE,
                        .executables = {BRIVANE_EXPORTER, BRIVANE_SELF},
                        .bindSys = true});
    brivane::bench::addWatchedMachine(staged.sysTree());
    addLaptopSupplies(staged.sysTree());
    if (!staged.startAgent()) {
        std::fprintf(stderr, "the agent did not start\n");
        return 1;
    }
    const int ours = freePort();
    const int theirs = freePort();
    const pid_t exporter =
        staged
            .launch({staged.path("brivane-sensors-export"), "export", "--endpoint",
                     staged.endpoint(), "--listen", "127.0.0.1:" + std::to_string(ours)})
            .pid();
    const pid_t nodeExporter =
        staged
            .launch({"prometheus-node-exporter", "--collector.disable-defaults",
                     "--collector.hwmon", "--collector.powersupplyclass",
                     "--web.disable-exporter-metrics",
                     "--web.listen-address=127.0.0.1:" + std::to_string(theirs)})
            .pid();
    Scraper brivane(ours);
    Scraper node(theirs);
    const bool up = brivane::testing::pollUntil(std::chrono::seconds(10),
                                                [&] { return brivane.scrape() && node.scrape(); });
    if (!up || brivane.body().find("\nbrivane_up 1\n") == std::string::npos) {
        std::fprintf(stderr, "an exporter did not answer: %s\n", brivane.body().c_str());
        return 1;
    }
    for (int i = 0; i < 50; ++i) { // warm-up, and the exporter's first energy ranking
        brivane.scrape();
        node.scrape();
    }
    brivane.times().clear();
    node.times().clear();
    std::size_t failures = 0;
    const double oursBefore = cpuMicroseconds(exporter);
    const double theirsBefore = cpuMicroseconds(nodeExporter);
    // In turns of a few scrapes each, so that both meet the same load from the rest of the
    // machine but neither the other's trailing work (node_exporter's garbage collection).
    constexpr int turn = 20;
    for (int done = 0; done < scrapes; done += turn) {
        for (auto* scraper : {&brivane, &node}) {
            for (int i = done; i < std::min(scrapes, done + turn); ++i) {
                failures += !scraper->scrape();
            }
        }
    }
    const double oursCpu = (cpuMicroseconds(exporter) - oursBefore) / scrapes;
    const double theirsCpu = (cpuMicroseconds(nodeExporter) - theirsBefore) / scrapes;

    const auto run = staged.run(
        {staged.path("scrape_compare"), "--client", staged.endpoint(), std::to_string(scrapes)});
    std::istringstream lines(run.output);
    std::vector<double> snapshots;
    for (double us; lines >> us;) {
        snapshots.push_back(us);
    }

    std::printf("series: ours %zu (%zu bytes), node_exporter's %zu (%zu bytes)\n",
                series(brivane.body()), brivane.body().size(), series(node.body()),
                node.body().size());
    const double oursP50 = percentile(brivane.times(), 0.5);
    const double theirsP50 = percentile(node.times(), 0.5);
    std::printf("%d scrapes each, in turns of %d (us):\n", scrapes, turn);
    std::printf("  brivane-sensors export  p50 %8.1f  p90 %8.1f\n", oursP50,
                percentile(brivane.times(), 0.9));
    std::printf("  node_exporter           p50 %8.1f  p90 %8.1f\n", theirsP50,
                percentile(node.times(), 0.9));
    std::printf("  snapshot round trip     p50 %8.1f  p90 %8.1f\n", percentile(snapshots, 0.5),
                percentile(snapshots, 0.9));
    std::printf("node_exporter / ours at p50: %.1fx (target at least 10x)\n",
                oursP50 > 0 ? theirsP50 / oursP50 : 0.0);
    std::printf("CPU per scrape: our exporter %.1f us (the agent's share not counted), "
                "node_exporter %.1f us\n",
                oursCpu, theirsCpu);
    std::printf("the exporter adds at p50: %.1f us over the snapshot\n",
                oursP50 - percentile(snapshots, 0.5));
    if (failures > 0 || snapshots.size() != static_cast<std::size_t>(scrapes)) {
        std::fprintf(stderr, "%zu failed scrapes, %zu of %d snapshots\n", failures,
                     snapshots.size(), scrapes);
        return 1;
    }
    return 0;
}
