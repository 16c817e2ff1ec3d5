#include "backends/linux/sysfs_ioreport_source.h"

#include "backends/linux/cpu/cpu_idle_discovery.h"
#include "backends/linux/cpu/cpu_state_channels.h"
#include "backends/linux/power/energy_channels.h"
#include "backends/posix/shared/ioreport_delta.h"

#include <mutex>
#include <vector>

namespace brivane::platform::linux_backend {

namespace {

class SysfsSubscription final : public IOReportSubscription {
public:
    std::vector<std::unique_ptr<GroupReader>> readers;
    mutable std::mutex mutex; // guards the readers' running state
};

} // namespace

SysfsIOReportSource::SysfsIOReportSource(const std::string& sysRoot, posix::KeptValue::Pread pread,
                                         const std::string& procRoot, CpuSampling sampling,
                                         SensorPoller::Setup energy)
    : sys_(sysRoot),
      proc_(procRoot), groups_{std::make_unique<CpuStateChannels>(sys_, proc_, pread, sampling),
                               std::make_unique<EnergyChannels>(sysRoot,
                                                                [&energy, pread] {
                                                                    energy.pread = pread;
                                                                    return std::move(energy);
                                                                }()),
                               std::make_unique<SummedCounterGroup>(sys_, "CPU Stats",
                                                                    std::string(idleStatesSubgroup),
                                                                    discoverIdleChannels),
                               std::make_unique<SummedCounterGroup>(sys_, "CPU Stats",
                                                                    std::string(throttlingSubgroup),
                                                                    discoverThrottleChannels)} {}

void SysfsIOReportSource::step() {
    static_cast<EnergyChannels&>(*groups_[1]).step();
}

SysfsIOReportSource::~SysfsIOReportSource() = default;

std::optional<IOReportChannelList>
SysfsIOReportSource::copyChannelsInGroup(std::string_view group,
                                         std::optional<std::string_view> subgroup) {
    for (const auto& candidate : groups_)
        if (candidate->names(group, subgroup))
            return candidate->discover();
    return std::nullopt;
}

std::optional<IOReportChannelList>
SysfsIOReportSource::createMutableCopy(const IOReportChannelList& channels) {
    return channels;
}

IOReportSubscriptionResult
SysfsIOReportSource::createSubscription(const IOReportChannelList& channels) {
    auto subscription = std::make_unique<SysfsSubscription>();
    IOReportChannelList subscribed;
    std::size_t kept = 0;
    for (const auto& group : groups_) {
        if (auto reader = group->subscribe(channels, kept)) {
            subscribed.insert(subscribed.end(), reader->channels().begin(),
                              reader->channels().end());
            subscription->readers.push_back(std::move(reader));
        }
    }
    IOReportSubscriptionResult result;
    if (subscribed.empty())
        return result;
    result.subscription = std::move(subscription);
    result.subscribedChannels = std::move(subscribed);
    return result;
}

std::optional<IOReportSample>
SysfsIOReportSource::createSamples(const IOReportSubscription& subscription,
                                   const IOReportChannelList& channels) {
    const auto* ours = dynamic_cast<const SysfsSubscription*>(&subscription);
    if (!ours)
        return std::nullopt;
    std::lock_guard lock(ours->mutex);
    IOReportSample sample;
    sample.channels.reserve(channels.size());
    for (const auto& reader : ours->readers)
        reader->sample(channels, sample.channels);
    return sample;
}

std::optional<IOReportDelta> SysfsIOReportSource::createSamplesDelta(const IOReportSample& older,
                                                                     const IOReportSample& newer) {
    return IOReportDelta{subtractSamples(older, newer)};
}

} // namespace brivane::platform::linux_backend
