#pragma once

#include "formats/process_details_snapshot.h"
#include "platform/gpu_clients.h"
#include "platform/process_table.h"
#include "platform/tool_runner.h"
#include "platform/uptime_clock.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace brivane {

// Answers process detail requests: the largest memory footprints, the busiest storage users
// since the previous storage request (over a first window on the first one), the process
// monitor's power figures, and the graphics cards' busiest clients.
//
// Memory and energy use no state and may run concurrently with anything; storage and gpu
// requests keep the previous measurement and must come from one serial queue.
class ProcessDetailsReader {
public:
    static constexpr std::size_t maximumReadings = 128;
    static constexpr double minimumStorageWindow = 0.5; // seconds
    // Without a previous request a storage request measures over this long, as the process
    // monitor's two samples do for energy.
    static constexpr double firstStorageWindow = 1.0; // seconds
    // GPU busy shares are a rate over the time since the previous gpu request, when that is
    // 0.5-10 s ago: a person asks what is busy now, not over the last hour. Otherwise the
    // request looks twice, this far apart.
    static constexpr double firstGpuWindow = 1.0;    // seconds
    static constexpr double longestGpuWindow = 10.0; // seconds

    ProcessDetailsReader();
    ProcessDetailsReader(std::shared_ptr<const platform::ProcessTable> table,
                         std::shared_ptr<platform::ToolRunner> tools,
                         std::shared_ptr<const platform::UptimeClock> clock,
                         std::shared_ptr<const platform::GpuClientTable> gpu = nullptr);

    ProcessDetailsSnapshot read(ProcessDetailsKind kind);

    // Readings of the last sample of a process monitor log: the lines after the last line
    // whose first field is "PID", at most 128, in their order; nothing when the log has fewer
    // than two such lines.
    static std::vector<CPUDetailsSnapshot::ProcessReading>
    parseEnergy(std::string_view output, const std::unordered_set<int32_t>& excluding);

private:
    struct Counters {
        uint64_t startedAt = 0;
        uint64_t footprint = 0;
        uint64_t read = 0;
        uint64_t write = 0;
    };
    // Sorted by pid, one entry per pid.
    using CounterTable = std::vector<std::pair<int32_t, Counters>>;
    struct StorageBaseline {
        double uptime = 0;
        CounterTable counters;
    };

    CounterTable counters() const;
    std::vector<CPUDetailsSnapshot::ProcessReading> memory() const;
    // The rates and the seconds they were measured over.
    std::pair<std::vector<ProcessDetailsSnapshot::StorageReading>, std::optional<double>> storage();
    std::vector<CPUDetailsSnapshot::ProcessReading> energy() const;
    using GpuRanking = std::vector<ProcessDetailsSnapshot::GpuReading>;
    std::pair<GpuRanking, std::optional<double>> gpu();
    std::optional<std::string> name(int32_t pid) const;

    std::shared_ptr<const platform::ProcessTable> table_;
    std::shared_ptr<platform::ToolRunner> tools_;
    std::shared_ptr<const platform::UptimeClock> clock_;
    std::shared_ptr<const platform::GpuClientTable> gpu_;

    std::optional<StorageBaseline> previousStorage;
    std::vector<ProcessDetailsSnapshot::StorageReading> storageRates;
    std::optional<double> storageInterval;

    struct GpuLook {
        double uptime = 0;
        std::vector<platform::GpuClientUse> uses;
    };
    std::optional<GpuLook> previousGpu;
    GpuRanking gpuRanking;
    std::optional<double> gpuInterval;
};

} // namespace brivane
