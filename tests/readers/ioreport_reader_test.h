#pragma once

#include "platform/sim/sim_ioreport_source.h"
#include "platform/uptime_clock.h"

#include <gtest/gtest.h>
#include <memory>

namespace brivane {

using platform::ManualUptimeClock;
using platform::sim::SimIOReportChannelSpec;
using platform::sim::SimIOReportFaults;
using platform::sim::SimIOReportSource;
using platform::sim::SimIOReportStateSpec;

// A simulated report source on a manual clock, as the CPU and energy readers sample it.
class IOReportReaderTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualUptimeClock> clock;
    std::shared_ptr<SimIOReportSource> source;

    explicit IOReportReaderTest(double uptime) { resetSource(uptime); }
    void resetSource(double uptime) {
        clock = std::make_shared<ManualUptimeClock>(uptime);
        source = std::make_shared<SimIOReportSource>(clock);
    }
};

// Each way the subscription set-up can fail.
inline const SimIOReportFaults setUpFaults[] = {
    {.groupsMissing = true}, {.copyFails = true}, {.subscriptionFails = true}};

} // namespace brivane
