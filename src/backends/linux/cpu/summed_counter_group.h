#pragma once

#include "backends/linux/polling/sysfs_channel_group.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// A channel whose values are sums of counter files, read when a sample is asked for: state i
// of a state channel sums sums[i], a simple channel's count sums sums[0]. Nothing runs between
// samples, so the group costs nothing while no reader asks.
struct SummedChannel {
    IOReportChannel description; // no states: a simple channel
    std::vector<std::vector<std::string>> sums;
};

// A channel group of summed counters, found anew by `discover` at each discovery.
class SummedCounterGroup final : public SysfsChannelGroup {
public:
    using Discover = std::function<std::vector<SummedChannel>(const posix::RootedDirectory& sys)>;
    SummedCounterGroup(const posix::RootedDirectory& sys, std::string group, std::string subgroup,
                       Discover discover);

    bool names(std::string_view group, std::optional<std::string_view> subgroup) const override;
    std::optional<IOReportChannelList> discover() override;
    std::unique_ptr<GroupReader> subscribe(const IOReportChannelList& wanted,
                                           std::size_t& kept) override;

private:
    const posix::RootedDirectory& sys_;
    std::string group_, subgroup_;
    Discover discover_;
    std::mutex mutex_;
    std::map<std::uint64_t, SummedChannel> found_;
};

} // namespace brivane::platform::linux_backend
