#include "readers/ioreport_group_subscription.h"

namespace brivane {

std::optional<IOReportGroupSubscription>
subscribeToGroup(platform::IOReportSource& source, std::string_view group,
                 std::optional<std::string_view> subgroup) {
    auto channels = source.copyChannelsInGroup(group, subgroup);
    if (!channels)
        return std::nullopt;
    auto mutableCopy = source.createMutableCopy(*channels);
    if (!mutableCopy)
        return std::nullopt;
    auto result = source.createSubscription(*mutableCopy);
    return IOReportGroupSubscription{
        std::move(result.subscription),
        result.subscribedChannels ? std::move(*result.subscribedChannels) : std::move(*mutableCopy),
    };
}

} // namespace brivane
