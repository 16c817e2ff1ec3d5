#pragma once

#include "platform/ioreport_source.h"
#include "platform/uptime_clock.h"

#include <map>
#include <mutex>

namespace brivane::platform::sim {

struct SimIOReportStateSpec {
    std::optional<std::string> name;
    double residencyPerSecond = 0;
};

struct SimIOReportChannelSpec {
    std::optional<std::string> name;
    std::optional<std::string> unitLabel;
    double countPerSecond = 0;
    std::vector<SimIOReportStateSpec> states;
    // What the channel claims; states.size() when absent.
    std::optional<std::int32_t> declaredStateCount;
};

// Switches that make one platform call fail the way the real library can.
struct SimIOReportFaults {
    bool groupsMissing = false;
    bool copyFails = false;
    bool subscriptionFails = false;
    bool subscribedChannelsMissing = false;
    bool sampleFails = false;
    bool deltaFails = false;
    bool deltaLacksChannels = false;
};

// Counters of a simulated machine: each channel's count and state residencies grow at fixed
// rates with the injected clock, and tests may add exact amounts on top. Safe to share between
// readers on different threads.
class SimIOReportSource final : public IOReportSource {
public:
    explicit SimIOReportSource(std::shared_ptr<const UptimeClock> clock);

    // Returns the new channel's id, used by the adjusting calls below.
    std::uint64_t addChannel(const std::string& group, const std::optional<std::string>& subgroup,
                             SimIOReportChannelSpec spec);
    void setCountRate(std::uint64_t channelID, double countPerSecond);
    void addCount(std::uint64_t channelID, std::int64_t counts);
    void setResidencyRate(std::uint64_t channelID, std::size_t state, double perSecond);
    void addResidency(std::uint64_t channelID, std::size_t state, std::int64_t amount);
    void setFaults(const SimIOReportFaults& faults);
    // How often a group's channels were copied: those of `subgroup` only, when given.
    int groupCopies(std::optional<std::string_view> subgroup = std::nullopt) const;

    std::optional<IOReportChannelList>
    copyChannelsInGroup(std::string_view group, std::optional<std::string_view> subgroup) override;
    std::optional<IOReportChannelList>
    createMutableCopy(const IOReportChannelList& channels) override;
    IOReportSubscriptionResult createSubscription(const IOReportChannelList& channels) override;
    std::optional<IOReportSample> createSamples(const IOReportSubscription& subscription,
                                                const IOReportChannelList& channels) override;
    std::optional<IOReportDelta> createSamplesDelta(const IOReportSample& older,
                                                    const IOReportSample& newer) override;

private:
    struct Counter {
        double rate = 0;
        double accumulated = 0;
        std::int64_t exact = 0;

        std::int64_t value() const;
    };
    struct Channel {
        std::string group;
        std::optional<std::string> subgroup;
        IOReportChannel description;
        Counter count;
        std::vector<Counter> residencies;
    };

    void advanceLocked();
    Channel* findLocked(std::uint64_t channelID);
    IOReportChannel currentValuesLocked(const Channel& channel) const;

    std::shared_ptr<const UptimeClock> clock_;
    mutable std::mutex mutex_;
    std::vector<Channel> channels_;
    SimIOReportFaults faults_;
    double lastAdvance_;
    std::map<std::string, int, std::less<>> groupCopies_; // by subgroup
};

} // namespace brivane::platform::sim
