#pragma once

#include "backends/linux/polling/sensor_channels.h"
#include "backends/linux/power/battery_status.h"

#include <utility>
#include <vector>

namespace brivane::platform::linux_backend {

// The machine's own batteries (power supplies of type Battery and scope System, in name order;
// a ThinkPad may have two), their value files and status read by the registry's poller. Where
// no battery has a `temp`, a platform chip that measures the battery stands in for it (the
// Steam Deck's steamdeck_hwmon "Battery Temp").
class SystemBatteries {
public:
    // Finds them, adding their value files to `channels`.
    void discover(ChannelSet& channels);
    bool empty() const { return batteries_.empty(); }
    // Every battery's files now, taken together.
    BatteryStatus read(const ChannelSet& channels) const;

private:
    using Field = std::optional<std::int64_t> SupplyReading::*;
    struct Battery {
        std::size_t status = 0; // a probe giving the BatteryState
        std::vector<std::pair<Field, std::size_t>> files;
    };
    std::vector<Battery> batteries_;
    std::optional<std::size_t> boardTemperature_; // m°C
};

} // namespace brivane::platform::linux_backend
