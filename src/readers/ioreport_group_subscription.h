#pragma once

#include "platform/ioreport_source.h"

#include <memory>
#include <optional>
#include <string_view>

namespace brivane {

// A subscription to the channels of one group, as the readers sample it.
struct IOReportGroupSubscription {
    // Null when the platform gave no subscription.
    std::unique_ptr<platform::IOReportSubscription> subscription;
    // The channels the platform subscribed, or the mutable copy when it named none.
    platform::IOReportChannelList channels;
};

// Copies the group's channels, makes them mutable and subscribes to them. Absent when the group
// or its mutable copy is.
std::optional<IOReportGroupSubscription> subscribeToGroup(platform::IOReportSource& source,
                                                          std::string_view group,
                                                          std::optional<std::string_view> subgroup);

} // namespace brivane
