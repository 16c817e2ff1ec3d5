#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"
#include "platform/ioreport_source.h"

#include <memory>
#include <optional>

namespace brivane::platform::linux_backend {

// The channels one subscription reads from one group.
class GroupReader {
public:
    virtual ~GroupReader() = default;
    // The subscribed channels' descriptions.
    virtual const IOReportChannelList& channels() const = 0;
    // Appends the current values of those of `wanted` it reads, in `wanted` order; a channel
    // whose files fail this time is left out of this sample. Called under the subscription's
    // lock.
    virtual void sample(const IOReportChannelList& wanted, IOReportChannelList& out) = 0;
};

// One channel group of the sysfs source. Channel ids are unique across groups.
class SysfsChannelGroup {
public:
    virtual ~SysfsChannelGroup() = default;
    virtual bool names(std::string_view group, std::optional<std::string_view> subgroup) const = 0;
    // The group's channels as found now, kept for subscribe(); nothing when there is none.
    virtual std::optional<IOReportChannelList> discover() = 0;
    // A reader of those of `wanted` that discovery found; null when none. `kept` counts the
    // descriptors the subscription keeps open.
    virtual std::unique_ptr<GroupReader> subscribe(const IOReportChannelList& wanted,
                                                   std::size_t& kept) = 0;
};

} // namespace brivane::platform::linux_backend
