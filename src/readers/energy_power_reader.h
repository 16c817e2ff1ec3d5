#pragma once

#include "formats/sensor_snapshot.h"
#include "platform/ioreport_source.h"
#include "platform/uptime_clock.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace brivane {

// Average CPU and GPU power in watts between two calls, from the "Energy Model" counters.
// Not thread-safe: the snapshot queue is its only caller.
class EnergyPowerReader {
public:
    // Uses the platform's counters and clock.
    EnergyPowerReader();
    EnergyPowerReader(std::shared_ptr<platform::IOReportSource> source,
                      std::shared_ptr<const platform::UptimeClock> clock);

    // Readings keyed "CPUModelPower" and "GPUModelPower" in the order of the channels in the
    // sample delta, then any channel the platform names "<source>/<label>" (another energy
    // counter of the machine) under that name, every interval; empty when no interval could
    // be measured. Never throws.
    std::vector<SensorSnapshot::Reading> read();

    // The energy the counters behind those readings moved by since this reader's first call,
    // in joules: "CPUEnergy" and "GPUEnergy", each once it has moved. Monotonic; every interval
    // between two calls counts, whatever its length.
    std::vector<SensorSnapshot::Reading> totals() const;

    static constexpr double minimumInterval = 0.1;
    static constexpr double maximumInterval = 30.0;
    static constexpr double maximumPower = 1000.0;

private:
    struct PreviousSample {
        platform::IOReportSample sample;
        double uptime = 0;
    };

    std::vector<SensorSnapshot::Reading> readUnguarded();
    void setUp();
    void addToTotals(const platform::IOReportChannelList& changes);
    void appendReadings(const platform::IOReportChannelList& changes, double elapsed,
                        std::vector<SensorSnapshot::Reading>& readings);

    std::shared_ptr<platform::IOReportSource> source_;
    std::shared_ptr<const platform::UptimeClock> clock_;
    std::optional<platform::IOReportChannelList> channels_;
    std::unique_ptr<platform::IOReportSubscription> subscription_;
    std::optional<PreviousSample> previous_;
    // One flag per reported field: whether its channel has shown a positive count.
    std::array<bool, 2> activeChannels_{};
    std::array<double, 2> totals_{};
    bool initialized_ = false;
};

} // namespace brivane
