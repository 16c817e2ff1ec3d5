#pragma once

#include "formats/cpu_details_snapshot.h"
#include "platform/ioreport_source.h"
#include "readers/ioreport_group_subscription.h"

#include <memory>
#include <optional>

namespace brivane {

// The CPUs' cumulative idle-state times and thermal-throttling counts, from the "CPU Stats"
// channel groups "CPU Core Idle States" and "CPU Thermal Throttling". Both are counted since
// the CPUs came up, so a reader needs no baseline: a client takes differences itself. Not
// thread-safe: the CPU queue is its only caller.
class CPUCountersReader {
public:
    explicit CPUCountersReader(std::shared_ptr<platform::IOReportSource> source)
        : source_(std::move(source)) {}

    // Never throws; absent where the machine has no such counters or their sample fails.
    decltype(CPUDetailsSnapshot::idleStates) idleStates();
    std::optional<CPUDetailsSnapshot::Throttling> throttling();

private:
    // The group's current sample; subscribes first, and again after a failure, as CPUs and
    // their drivers come and go.
    std::optional<platform::IOReportSample> sample(std::optional<IOReportGroupSubscription>& group,
                                                   std::string_view subgroup);

    std::shared_ptr<platform::IOReportSource> source_;
    std::optional<IOReportGroupSubscription> idle_, throttling_;
};

} // namespace brivane
