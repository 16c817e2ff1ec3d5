#include "backends/sim/sim_ioreport_source.h"

#include "backends/posix/shared/ioreport_delta.h"

#include <algorithm>
#include <cmath>

namespace brivane::platform::sim {

namespace {

class SimSubscription final : public IOReportSubscription {
public:
    explicit SimSubscription(std::vector<std::uint64_t> ids) : ids_(std::move(ids)) {}
    bool covers(std::uint64_t id) const {
        return std::find(ids_.begin(), ids_.end(), id) != ids_.end();
    }

private:
    std::vector<std::uint64_t> ids_;
};

std::int64_t sum(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

} // namespace

std::int64_t SimIOReportSource::Counter::value() const {
    return static_cast<std::int64_t>(std::llround(accumulated)) + exact;
}

SimIOReportSource::SimIOReportSource(std::shared_ptr<const UptimeClock> clock)
    : clock_(std::move(clock)), lastAdvance_(clock_->uptime()) {}

std::uint64_t SimIOReportSource::addChannel(const std::string& group,
                                            const std::optional<std::string>& subgroup,
                                            SimIOReportChannelSpec spec) {
    std::lock_guard lock(mutex_);
    advanceLocked();
    Channel channel;
    channel.group = group;
    channel.subgroup = subgroup;
    channel.description.channelID = channels_.size() + 1;
    channel.description.name = std::move(spec.name);
    channel.description.unit = std::move(spec.unitLabel);
    channel.description.declaredStateCount =
        spec.declaredStateCount.value_or(static_cast<std::int32_t>(spec.states.size()));
    channel.count.rate = spec.countPerSecond;
    for (auto& state : spec.states) {
        channel.description.states.push_back({std::move(state.name), 0});
        channel.residencies.push_back({state.residencyPerSecond, 0, 0});
    }
    channels_.push_back(std::move(channel));
    return channels_.back().description.channelID;
}

SimIOReportSource::Channel* SimIOReportSource::findLocked(std::uint64_t channelID) {
    if (channelID == 0 || channelID > channels_.size())
        return nullptr;
    return &channels_[channelID - 1];
}

void SimIOReportSource::setCountRate(std::uint64_t channelID, double countPerSecond) {
    std::lock_guard lock(mutex_);
    advanceLocked();
    if (auto* channel = findLocked(channelID))
        channel->count.rate = countPerSecond;
}

void SimIOReportSource::addCount(std::uint64_t channelID, std::int64_t counts) {
    std::lock_guard lock(mutex_);
    if (auto* channel = findLocked(channelID))
        channel->count.exact = sum(channel->count.exact, counts);
}

void SimIOReportSource::setResidencyRate(std::uint64_t channelID, std::size_t state,
                                         double perSecond) {
    std::lock_guard lock(mutex_);
    advanceLocked();
    if (auto* channel = findLocked(channelID); channel && state < channel->residencies.size())
        channel->residencies[state].rate = perSecond;
}

void SimIOReportSource::addResidency(std::uint64_t channelID, std::size_t state,
                                     std::int64_t amount) {
    std::lock_guard lock(mutex_);
    if (auto* channel = findLocked(channelID); channel && state < channel->residencies.size())
        channel->residencies[state].exact = sum(channel->residencies[state].exact, amount);
}

void SimIOReportSource::setFaults(const SimIOReportFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

int SimIOReportSource::groupCopies(std::optional<std::string_view> subgroup) const {
    std::lock_guard lock(mutex_);
    int copies = 0;
    for (const auto& [name, count] : groupCopies_)
        if (!subgroup || name == *subgroup)
            copies += count;
    return copies;
}

void SimIOReportSource::advanceLocked() {
    const double now = clock_->uptime();
    const double elapsed = std::max(0.0, now - lastAdvance_);
    lastAdvance_ = now;
    for (auto& channel : channels_) {
        channel.count.accumulated += channel.count.rate * elapsed;
        for (auto& residency : channel.residencies)
            residency.accumulated += residency.rate * elapsed;
    }
}

IOReportChannel SimIOReportSource::currentValuesLocked(const Channel& channel) const {
    IOReportChannel values = channel.description;
    values.count = channel.count.value();
    for (std::size_t i = 0; i < values.states.size(); ++i)
        values.states[i].residency = channel.residencies[i].value();
    return values;
}

std::optional<IOReportChannelList>
SimIOReportSource::copyChannelsInGroup(std::string_view group,
                                       std::optional<std::string_view> subgroup) {
    std::lock_guard lock(mutex_);
    ++groupCopies_[std::string(subgroup.value_or(""))];
    if (faults_.groupsMissing)
        return std::nullopt;
    IOReportChannelList found;
    for (const auto& channel : channels_) {
        if (channel.group != group)
            continue;
        if (subgroup && channel.subgroup != *subgroup)
            continue;
        found.push_back(channel.description);
    }
    if (found.empty())
        return std::nullopt;
    return found;
}

std::optional<IOReportChannelList>
SimIOReportSource::createMutableCopy(const IOReportChannelList& channels) {
    std::lock_guard lock(mutex_);
    if (faults_.copyFails)
        return std::nullopt;
    return channels;
}

IOReportSubscriptionResult
SimIOReportSource::createSubscription(const IOReportChannelList& channels) {
    std::lock_guard lock(mutex_);
    IOReportSubscriptionResult result;
    if (!faults_.subscribedChannelsMissing)
        result.subscribedChannels = channels;
    if (!faults_.subscriptionFails) {
        std::vector<std::uint64_t> ids;
        ids.reserve(channels.size());
        for (const auto& channel : channels)
            ids.push_back(channel.channelID);
        result.subscription = std::make_unique<SimSubscription>(std::move(ids));
    }
    return result;
}

std::optional<IOReportSample>
SimIOReportSource::createSamples(const IOReportSubscription& subscription,
                                 const IOReportChannelList& channels) {
    std::lock_guard lock(mutex_);
    if (faults_.sampleFails)
        return std::nullopt;
    const auto* sim = dynamic_cast<const SimSubscription*>(&subscription);
    if (!sim)
        return std::nullopt;
    advanceLocked();
    IOReportSample sample;
    sample.channels.reserve(channels.size());
    for (const auto& wanted : channels) {
        const auto* channel = findLocked(wanted.channelID);
        if (channel && sim->covers(wanted.channelID))
            sample.channels.push_back(currentValuesLocked(*channel));
    }
    return sample;
}

std::optional<IOReportDelta> SimIOReportSource::createSamplesDelta(const IOReportSample& older,
                                                                   const IOReportSample& newer) {
    {
        std::lock_guard lock(mutex_);
        if (faults_.deltaFails)
            return std::nullopt;
        if (faults_.deltaLacksChannels)
            return IOReportDelta{};
    }
    return IOReportDelta{subtractSamples(older, newer)};
}

} // namespace brivane::platform::sim
