#include "platform/linux/ioreport_absent_source.h"

namespace brivane::platform::linux_backend {

std::optional<IOReportChannelList>
AbsentIOReportSource::copyChannelsInGroup(std::string_view, std::optional<std::string_view>) {
    return std::nullopt;
}

std::optional<IOReportChannelList>
AbsentIOReportSource::createMutableCopy(const IOReportChannelList& channels) {
    return channels;
}

IOReportSubscriptionResult AbsentIOReportSource::createSubscription(const IOReportChannelList&) {
    return {};
}

std::optional<IOReportSample> AbsentIOReportSource::createSamples(const IOReportSubscription&,
                                                                  const IOReportChannelList&) {
    return std::nullopt;
}

std::optional<IOReportDelta> AbsentIOReportSource::createSamplesDelta(const IOReportSample&,
                                                                      const IOReportSample&) {
    return std::nullopt;
}

} // namespace brivane::platform::linux_backend
