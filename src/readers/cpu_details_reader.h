#pragma once

#include "formats/cpu_details_snapshot.h"
#include "platform/ioreport_source.h"
#include "platform/process_table.h"
#include "platform/tool_runner.h"
#include "platform/uptime_clock.h"
#include "readers/cpu_counters_reader.h"

#include <memory>
#include <optional>

namespace brivane {

// The busiest processes from the process-status tool and, per CPU cluster kind, the time
// spent in each active performance state since the previous call, with the idle states and
// thermal throttling counted so far (cpu_counters_reader.h). Not thread-safe: the CPU
// queue is its only caller.
class CPUDetailsReader {
public:
    // Uses the platform's counters, tool runner, clock and process table.
    CPUDetailsReader();
    CPUDetailsReader(std::shared_ptr<platform::IOReportSource> source,
                     std::shared_ptr<platform::ToolRunner> tools,
                     std::shared_ptr<const platform::UptimeClock> clock,
                     std::shared_ptr<const platform::ProcessTable> processes);

    // Never throws; a failing step leaves its list or dictionary empty.
    CPUDetailsSnapshot read();

    static constexpr std::size_t processLimit = 128;
    static constexpr double baselineLifetime = 30.0;
    static constexpr std::int32_t maximumStateCount = 64;

    // The process-status run: the tool, its arguments and its environment.
    static const platform::ToolRun& processStatusRun();

private:
    using Residencies = decltype(CPUDetailsSnapshot::residencies);

    struct PreviousSample {
        platform::IOReportSample data;
        double uptime = 0;
    };

    std::vector<CPUDetailsSnapshot::ProcessReading> topProcesses();
    Residencies cpuResidencies();
    bool setUp();
    static void addChannel(const platform::IOReportChannel& channel, Residencies& result);

    std::shared_ptr<platform::IOReportSource> source_;
    std::shared_ptr<platform::ToolRunner> tools_;
    std::shared_ptr<const platform::UptimeClock> clock_;
    std::shared_ptr<const platform::ProcessTable> processes_;
    std::optional<platform::IOReportChannelList> channels_;
    std::unique_ptr<platform::IOReportSubscription> subscription_;
    std::optional<PreviousSample> previousSample_;
    CPUCountersReader counters_{source_};
};

} // namespace brivane
