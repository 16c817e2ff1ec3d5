#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::platform {

// One performance (or other) state of a state channel.
struct IOReportState {
    std::optional<std::string> name;
    // Time spent in the state, in the platform's units: cumulative in a sample, the
    // difference in a delta.
    std::int64_t residency = 0;
};

// One channel as it stands in a channel list, a sample or a delta. Back ends fill the fields;
// the readers go through the accessors, which answer like the platform's channel calls
// (nothing for a missing name, zero for a state index out of range).
struct IOReportChannel {
    // The back end's own identifier of the channel; lets a sample find its counters.
    std::uint64_t channelID = 0;
    std::optional<std::string> name;
    std::optional<std::string> unit;
    // Simple channels: cumulative count in a sample, difference in a delta.
    std::int64_t count = 0;
    // State channels: the count the channel declares, which need not match states.size().
    std::int32_t declaredStateCount = 0;
    std::vector<IOReportState> states;

    std::optional<std::string_view> channelName() const {
        return name ? std::optional<std::string_view>(*name) : std::nullopt;
    }
    std::optional<std::string_view> unitLabel() const {
        return unit ? std::optional<std::string_view>(*unit) : std::nullopt;
    }
    std::int64_t simpleIntegerValue() const { return count; }
    std::int32_t stateCount() const { return declaredStateCount; }
    std::optional<std::string_view> stateName(std::int32_t index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= states.size() || !states[index].name)
            return std::nullopt;
        return std::string_view(*states[index].name);
    }
    std::int64_t stateResidency(std::int32_t index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= states.size())
            return 0;
        return states[index].residency;
    }
};

// The channels of a group, of a subscription, of a sample or of a delta, in a stable order.
using IOReportChannelList = std::vector<IOReportChannel>;

// Counter values of the subscribed channels at one moment.
struct IOReportSample {
    IOReportChannelList channels;
};

// Per-channel differences between two samples. `channels` is absent when the delta carries no
// usable channel array.
struct IOReportDelta {
    std::optional<IOReportChannelList> channels;
};

// A live subscription; its back end releases it on destruction.
class IOReportSubscription {
public:
    virtual ~IOReportSubscription() = default;
};

struct IOReportSubscriptionResult {
    std::unique_ptr<IOReportSubscription> subscription; // null when the platform gave none
    std::optional<IOReportChannelList> subscribedChannels;
};

// The platform's energy and CPU-state counters, reduced to what the readers need. Every call
// reports failure as an absent result; none throws.
class IOReportSource {
public:
    virtual ~IOReportSource() = default;

    // Every channel of a group (and subgroup, when given), or nothing when the group is absent.
    virtual std::optional<IOReportChannelList>
    copyChannelsInGroup(std::string_view group, std::optional<std::string_view> subgroup) = 0;

    virtual std::optional<IOReportChannelList>
    createMutableCopy(const IOReportChannelList& channels) = 0;

    virtual IOReportSubscriptionResult createSubscription(const IOReportChannelList& channels) = 0;

    virtual std::optional<IOReportSample> createSamples(const IOReportSubscription& subscription,
                                                        const IOReportChannelList& channels) = 0;

    virtual std::optional<IOReportDelta> createSamplesDelta(const IOReportSample& older,
                                                            const IOReportSample& newer) = 0;
};

// The platform's counters; defined by the back end the executable links.
std::shared_ptr<IOReportSource> makeDefaultIOReportSource();

} // namespace brivane::platform
