#pragma once

#include "backends/linux/gpu/card_activity.h"
#include "backends/linux/polling/sensor_poller.h"
#include "backends/linux/polling/sysfs_channel_group.h"

#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// "Energy Model", unit "uJ": "CPU Energy", the sum of the RAPL package zones; "GPU Energy", the
// uncore zones or else the first energy counter of graphics hwmon chips (of several cards, the
// busiest card's in each interval, as `Setup::cards` tells, else the one that drew the most);
// and every readable hwmon energy counter but the uncore's stand-ins as a channel
// "<chip>/<label>" ("energyN" without a label), each card's own included. A
// counter the user cannot read leaves its channel out. The counters are found and read by a
// SensorPoller's lanes; a sample takes their latest values, unwrapped by the subscription (each
// at its own wrap range), so a delta is a plain difference. Asked before the lanes' first
// discovery has finished, the group is one channel standing for all: a reader set up then
// reads, from the next sample on, whatever that discovery finds.
class EnergyChannels final : public SysfsChannelGroup {
public:
    EnergyChannels(const std::string& sysRoot, SensorPoller::Setup setup);

    bool names(std::string_view group, std::optional<std::string_view> subgroup) const override;
    std::optional<IOReportChannelList> discover() override;
    std::unique_ptr<GroupReader> subscribe(const IOReportChannelList& wanted,
                                           std::size_t& kept) override;

    // Without background lanes (tests): runs what is due now.
    void step() { poller_.step(); }

    // How a channel is read: counters summed, each with its wrap range (0 when unknown); or,
    // with a card's PCI address per counter, advanced by the busiest card's counter alone.
    struct Plan {
        IOReportChannel description;
        std::vector<std::string> counterFiles;
        std::vector<std::uint64_t> ranges;
        std::vector<std::string> cards;
    };
    struct Catalog {
        std::shared_ptr<ChannelSet> channels;
        std::vector<Plan> plans;
    };

private:
    std::shared_ptr<CardActivity> cards_; // before poller_, which takes the setup
    CatalogPoller<Catalog> poller_;
};

} // namespace brivane::platform::linux_backend
