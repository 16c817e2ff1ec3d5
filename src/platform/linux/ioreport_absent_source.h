#pragma once

#include "platform/ioreport_source.h"

namespace brivane::platform::linux_backend {

// Linux publishes no energy-model or per-core performance-state counters in a form the
// readers could use, so both groups are reported as absent: the energy readings and the CPU
// residencies stay empty, as on a machine without them.
class AbsentIOReportSource final : public IOReportSource {
public:
    std::optional<IOReportChannelList>
    copyChannelsInGroup(std::string_view group, std::optional<std::string_view> subgroup) override;
    std::optional<IOReportChannelList>
    createMutableCopy(const IOReportChannelList& channels) override;
    IOReportSubscriptionResult createSubscription(const IOReportChannelList& channels) override;
    std::optional<IOReportSample> createSamples(const IOReportSubscription& subscription,
                                                const IOReportChannelList& channels) override;
    std::optional<IOReportDelta> createSamplesDelta(const IOReportSample& older,
                                                    const IOReportSample& newer) override;
};

} // namespace brivane::platform::linux_backend
