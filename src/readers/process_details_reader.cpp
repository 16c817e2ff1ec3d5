#include "readers/process_details_reader.h"

#include "base/utf8.h"
#include "readers/gpu_ranking.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace brivane {

namespace {

using ProcessReading = CPUDetailsSnapshot::ProcessReading;
using StorageReading = ProcessDetailsSnapshot::StorageReading;

// Bytes per second with the fraction dropped; saturates where a signed 64-bit count ends.
int64_t bytesPerSecond(uint64_t delta, double elapsed) {
    double rate = static_cast<double>(delta) / elapsed;
    constexpr double firstTooLarge = 9223372036854775808.0; // 2^63
    if (!(rate < firstTooLarge))
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(rate);
}

struct StorageDelta {
    int32_t pid;
    uint64_t read;
    uint64_t write;
};

bool busierFirst(const StorageDelta& a, const StorageDelta& b) {
    uint64_t aLarger = std::max(a.read, a.write), bLarger = std::max(b.read, b.write);
    if (aLarger != bLarger)
        return aLarger > bLarger;
    uint64_t aSmaller = std::min(a.read, a.write), bSmaller = std::min(b.read, b.write);
    if (aSmaller != bSmaller)
        return aSmaller > bSmaller;
    return a.pid < b.pid;
}

} // namespace

ProcessDetailsReader::ProcessDetailsReader()
    : ProcessDetailsReader(platform::makeDefaultProcessTable(), platform::makeDefaultToolRunner(),
                           platform::makeDefaultUptimeClock(),
                           platform::makeDefaultGpuClientTable()) {}

ProcessDetailsReader::ProcessDetailsReader(std::shared_ptr<const platform::ProcessTable> table,
                                           std::shared_ptr<platform::ToolRunner> tools,
                                           std::shared_ptr<const platform::UptimeClock> clock,
                                           std::shared_ptr<const platform::GpuClientTable> gpu)
    : table_(std::move(table)), tools_(std::move(tools)), clock_(std::move(clock)),
      gpu_(std::move(gpu)) {}

ProcessDetailsSnapshot ProcessDetailsReader::read(ProcessDetailsKind kind) {
    ProcessDetailsSnapshot snapshot;
    if (table_) {
        snapshot.helperUID = table_->realUserID();
        snapshot.helperEffectiveUID = table_->effectiveUserID();
    }
    // A failure of any step (even memory exhaustion) only empties the list.
    try {
        switch (kind) {
        case ProcessDetailsKind::memory:
            snapshot.ranked = memory();
            break;
        case ProcessDetailsKind::storage:
            std::tie(snapshot.storage, snapshot.storageInterval) = storage();
            break;
        case ProcessDetailsKind::energy:
            snapshot.ranked = energy();
            break;
        case ProcessDetailsKind::gpu:
            snapshot.gpu.emplace();
            std::tie(*snapshot.gpu, snapshot.gpuInterval) = gpu();
            break;
        }
    } catch (...) {
        snapshot.ranked.clear();
        snapshot.storage.clear();
        snapshot.storageInterval.reset();
        if (snapshot.gpu)
            snapshot.gpu->clear();
        snapshot.gpuInterval.reset();
    }
    return snapshot;
}

ProcessDetailsReader::CounterTable ProcessDetailsReader::counters() const {
    CounterTable counters;
    if (!table_)
        return counters;
    std::vector<int32_t> pids = table_->allPids();
    if (pids.empty())
        return counters;
    const int32_t own = table_->ownPid();
    counters.reserve(pids.size());
    for (int32_t pid : pids) {
        if (pid < 1 || pid == own)
            continue;
        std::optional<platform::ProcessResourceUsage> usage = table_->resourceUsage(pid);
        if (!usage)
            continue;
        counters.push_back({pid,
                            {usage->startedAt, usage->footprint, usage->diskBytesRead,
                             usage->logicalBytesWritten}});
    }
    // One entry per pid, the last one read winning, as a dictionary would keep it.
    std::stable_sort(counters.begin(), counters.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    auto last = std::unique(counters.rbegin(), counters.rend(),
                            [](const auto& a, const auto& b) { return a.first == b.first; });
    counters.erase(counters.begin(), last.base());
    return counters;
}

std::vector<ProcessReading> ProcessDetailsReader::memory() const {
    std::vector<ProcessReading> readings;
    CounterTable all = counters();
    std::vector<std::pair<uint64_t, int32_t>> ranked;
    ranked.reserve(all.size());
    for (const auto& [pid, counters] : all) {
        if (counters.footprint != 0)
            ranked.emplace_back(counters.footprint, pid);
    }
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    readings.reserve(std::min(ranked.size(), maximumReadings));
    for (const auto& [footprint, pid] : ranked) {
        if (readings.size() == maximumReadings)
            break;
        std::optional<std::string> processName = name(pid);
        if (!processName)
            continue;
        readings.push_back({pid, std::move(*processName), static_cast<double>(footprint)});
    }
    return readings;
}

std::pair<std::vector<StorageReading>, std::optional<double>> ProcessDetailsReader::storage() {
    double now = clock_ ? clock_->uptime() : 0.0;
    if (previousStorage && now - previousStorage->uptime < minimumStorageWindow)
        return {storageRates, storageInterval};

    // A rate needs two looks: without an earlier one, take it now and wait for the second.
    if (!previousStorage && clock_) {
        previousStorage = StorageBaseline{now, counters()};
        clock_->wait(firstStorageWindow);
        now = clock_->uptime();
    }
    CounterTable previous;
    double elapsed = 0;
    if (previousStorage) {
        previous = std::move(previousStorage->counters);
        elapsed = now - previousStorage->uptime;
    }
    previousStorage = StorageBaseline{now, counters()};
    const CounterTable& current = previousStorage->counters;

    storageRates.clear();
    storageInterval.reset();
    if (elapsed < minimumStorageWindow)
        return {storageRates, storageInterval};
    // Milliseconds are as precise as a person or a script needs the window.
    storageInterval = std::round(elapsed * 1000) / 1000;

    // Both tables are sorted by pid: walk them together.
    std::vector<StorageDelta> deltas;
    auto before = previous.begin();
    for (const auto& [pid, latest] : current) {
        while (before != previous.end() && before->first < pid)
            ++before;
        if (before == previous.end())
            break;
        if (before->first != pid)
            continue;
        const Counters& then = before->second;
        if (then.startedAt != latest.startedAt || latest.read < then.read ||
            latest.write < then.write)
            continue;
        uint64_t read = latest.read - then.read, write = latest.write - then.write;
        if (read == 0 && write == 0)
            continue;
        deltas.push_back({pid, read, write});
    }
    std::sort(deltas.begin(), deltas.end(), busierFirst);

    for (const StorageDelta& delta : deltas) {
        if (storageRates.size() == maximumReadings)
            break;
        std::optional<std::string> processName = name(delta.pid);
        if (!processName)
            continue;
        storageRates.push_back({delta.pid, std::move(*processName),
                                bytesPerSecond(delta.read, elapsed),
                                bytesPerSecond(delta.write, elapsed)});
    }
    return {storageRates, storageInterval};
}

std::vector<ProcessReading> ProcessDetailsReader::energy() const {
    if (!tools_ || !table_)
        return {};
    platform::ToolRun run;
    run.path = "/usr/bin/top";
    run.arguments = {"-o", "power", "-l",  "2",      "-s",
                     "1",  "-n",    "130", "-stats", "pid,command,power"};
    run.environment = platform::ToolEnvironment::exactly({{"LC_ALL", "C"}});
    run.timeLimit = 3.0;
    run.qos = platform::WatchdogQoS::utility;

    platform::ToolResult result = tools_->run(run);
    if (!result.succeeded())
        return {};
    std::unordered_set<int32_t> excluded{table_->ownPid(), result.processIdentifier};
    return parseEnergy(base::utf8::replacingInvalid(result.output), excluded);
}

std::pair<ProcessDetailsReader::GpuRanking, std::optional<double>> ProcessDetailsReader::gpu() {
    if (!gpu_ || !clock_ || !table_)
        return {};
    double now = clock_->uptime();
    if (previousGpu && now - previousGpu->uptime < minimumStorageWindow)
        return {gpuRanking, gpuInterval};
    if (!previousGpu || now - previousGpu->uptime > longestGpuWindow) {
        previousGpu = GpuLook{now, gpu_->look()};
        clock_->wait(firstGpuWindow);
        now = clock_->uptime();
    }
    GpuLook current{now, gpu_->look()};
    const double elapsed = now - previousGpu->uptime;
    gpuRanking = rankGpuClients(
        previousGpu->uses, current.uses, elapsed, [this](int32_t pid) { return name(pid); },
        maximumReadings);
    gpuInterval = std::round(elapsed * 1000) / 1000;
    previousGpu = std::move(current);
    return {gpuRanking, gpuInterval};
}

std::optional<std::string> ProcessDetailsReader::name(int32_t pid) const {
    std::optional<std::string> raw = table_->name(pid);
    if (!raw)
        return std::nullopt;
    // Never trust a back end to respect the name buffer's size or its terminating zero.
    std::string_view bytes(*raw);
    bytes = bytes.substr(0, std::min(bytes.find('\0'), platform::processNameCapacity));
    if (bytes.empty())
        return std::nullopt;
    return base::utf8::replacingInvalid(bytes);
}

} // namespace brivane
