#include "readers/cpu_details_reader.h"

#include "readers/ioreport_group_subscription.h"
#include "readers/process_status_line.h"

#include <array>
#include <string_view>

namespace brivane {

namespace {

constexpr std::array<std::string_view, 3> clusterPrefixes{"ECPU", "MCPU", "PCPU"};
constexpr std::array<std::string_view, 3> inactiveStates{"IDLE", "DOWN", "OFF"};

std::optional<std::string_view> clusterOf(std::string_view channelName) {
    for (const auto prefix : clusterPrefixes)
        if (channelName.starts_with(prefix))
            return prefix;
    return std::nullopt;
}

bool isInactive(std::string_view state) {
    for (const auto inactive : inactiveStates)
        if (state == inactive)
            return true;
    return false;
}

} // namespace

CPUDetailsReader::CPUDetailsReader()
    : CPUDetailsReader(platform::makeDefaultIOReportSource(), platform::makeDefaultToolRunner(),
                       platform::makeDefaultUptimeClock(), platform::makeDefaultProcessTable()) {}

CPUDetailsReader::CPUDetailsReader(std::shared_ptr<platform::IOReportSource> source,
                                   std::shared_ptr<platform::ToolRunner> tools,
                                   std::shared_ptr<const platform::UptimeClock> clock,
                                   std::shared_ptr<const platform::ProcessTable> processes)
    : source_(std::move(source)), tools_(std::move(tools)), clock_(std::move(clock)),
      processes_(std::move(processes)) {}

const platform::ToolRun& CPUDetailsReader::processStatusRun() {
    static const platform::ToolRun run{
        "/bin/ps",
        {"-A", "-c", "-r", "-o", "pid=,pcpu=,comm="},
        platform::ToolEnvironment::exactly({{"LC_ALL", "C"}}),
        2.0,
        platform::WatchdogQoS::utility,
    };
    return run;
}

CPUDetailsSnapshot CPUDetailsReader::read() {
    CPUDetailsSnapshot snapshot;
    snapshot.processes = topProcesses();
    snapshot.residencies = cpuResidencies();
    snapshot.idleStates = counters_.idleStates();
    snapshot.throttling = counters_.throttling();
    if (processes_) {
        snapshot.helperUID = processes_->realUserID();
        snapshot.helperEffectiveUID = processes_->effectiveUserID();
    }
    return snapshot;
}

std::vector<CPUDetailsSnapshot::ProcessReading> CPUDetailsReader::topProcesses() {
    try {
        if (!tools_)
            return {};
        const platform::ToolResult result = tools_->run(processStatusRun());
        if (!result.succeeded())
            return {};
        return parseProcessStatusOutput(result.output, processLimit);
    } catch (...) {
        return {};
    }
}

bool CPUDetailsReader::setUp() {
    auto subscribed = subscribeToGroup(*source_, "CPU Stats", "CPU Core Performance States");
    if (!subscribed)
        return false;
    subscription_ = std::move(subscribed->subscription);
    channels_ = std::move(subscribed->channels);
    return true;
}

CPUDetailsReader::Residencies CPUDetailsReader::cpuResidencies() {
    try {
        if (!source_)
            return {};
        if (!subscription_ && !setUp())
            return {};
        if (!subscription_ || !channels_) {
            previousSample_.reset();
            return {};
        }
        auto sample = source_->createSamples(*subscription_, *channels_);
        if (!sample) {
            previousSample_.reset();
            return {};
        }
        const double now = clock_->uptime();
        Residencies result;
        if (previousSample_ && now - previousSample_->uptime < baselineLifetime) {
            const auto delta = source_->createSamplesDelta(previousSample_->data, *sample);
            if (delta && delta->channels)
                for (const auto& channel : *delta->channels)
                    addChannel(channel, result);
        }
        previousSample_ = PreviousSample{std::move(*sample), now};
        return result;
    } catch (...) {
        return {};
    }
}

void CPUDetailsReader::addChannel(const platform::IOReportChannel& channel, Residencies& result) {
    const auto name = channel.channelName();
    if (!name)
        return;
    const auto cluster = clusterOf(*name);
    if (!cluster)
        return;
    const std::int32_t count = channel.stateCount();
    if (count < 1 || count > maximumStateCount)
        return;
    std::vector<double> active;
    for (std::int32_t index = 0; index < count; ++index) {
        const auto state = channel.stateName(index);
        if (!state || isInactive(*state))
            continue;
        const std::int64_t residency = channel.stateResidency(index);
        active.push_back(residency < 0 ? 0.0 : static_cast<double>(residency));
    }
    if (active.empty())
        return;
    const auto stored = result.find(*cluster);
    if (stored == result.end()) {
        result.emplace(std::string(*cluster), std::move(active));
    } else if (stored->second.size() == active.size()) {
        for (std::size_t i = 0; i < active.size(); ++i)
            stored->second[i] += active[i];
    }
}

} // namespace brivane
