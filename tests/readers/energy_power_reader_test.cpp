#include "readers/energy_power_reader.h"
#include "readers/ioreport_reader_test.h"

#include <gtest/gtest.h>
#include <optional>

namespace brivane {
namespace {

using Readings = std::vector<SensorSnapshot::Reading>;

class EnergyPowerReaderTest : public IOReportReaderTest {
protected:
    std::optional<EnergyPowerReader> reader;

    EnergyPowerReaderTest() : IOReportReaderTest(0.0) { restart(); }
    void restart(double uptime = 0.0) {
        resetSource(uptime);
        reader.emplace(source, clock);
    }

    std::uint64_t channel(std::optional<std::string> name, std::optional<std::string> unit) {
        return source->addChannel(
            "Energy Model", std::nullopt,
            SimIOReportChannelSpec{std::move(name), std::move(unit), 0, {}, {}});
    }
    Readings readAt(double uptime) {
        clock->set(uptime);
        return reader->read();
    }
};

TEST_F(EnergyPowerReaderTest, ConvertsEachUnitOfTheScaleTableToWatts) {
    struct Case {
        const char* unit;
        std::int64_t count;
        std::optional<double> watts;
    };
    const Case cases[] = {
        {"mJ", 10'000, 5.0},     {"nJ", 10'000'000'000, 5.0},    {"J", 3, 1.5},
        {"uJ", 4'000'000, 2.0},  {"\xC2\xB5J", 4'000'000, 2.0},  {"kJ", 5, std::nullopt},
        {"MJ", 5, std::nullopt}, {"\xCE\xBCJ", 5, std::nullopt}, // Greek mu
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unit);
        restart(100.0);
        const auto id = channel("CPU Energy", c.unit);
        EXPECT_TRUE(reader->read().empty());
        source->addCount(id, c.count);
        clock->advance(2.0);
        const Readings readings = reader->read();
        EXPECT_EQ(readings, (c.watts ? Readings{{"CPUModelPower", *c.watts}} : Readings{}));
    }
}

TEST_F(EnergyPowerReaderTest, IntervalOutsideWindowOnlyRenewsTheBaseline) {
    const auto cpu = channel("CPU Energy", "J");
    source->setCountRate(cpu, 10.0);
    EXPECT_TRUE(readAt(0.0).empty());
    EXPECT_EQ(readAt(0.1), (Readings{{"CPUModelPower", 10.0}})); // the shortest interval
    readAt(2.0);
    EXPECT_EQ(readAt(32.0), (Readings{{"CPUModelPower", 10.0}})); // the longest
    EXPECT_EQ(reader->totals(), (Readings{{"CPUEnergy", 320.0}}));

    restart();
    const auto slow = channel("CPU Energy", "mJ");
    source->setCountRate(slow, 2'000.0);
    EXPECT_TRUE(readAt(10.0).empty());
    EXPECT_TRUE(readAt(10.0625).empty()); // too short
    source->addCount(slow, 1'000);        // lands in the next interval only
    EXPECT_EQ(readAt(11.0625), (Readings{{"CPUModelPower", 3.0}}));
    EXPECT_TRUE(readAt(56.0625).empty()); // 45 s gap
    EXPECT_EQ(readAt(57.0625), (Readings{{"CPUModelPower", 2.0}}));
    EXPECT_TRUE(readAt(87.125).empty()); // 30.0625 s: just above the upper limit
    // The totals count every interval, the ones too short or too long to average included.
    const auto totals = reader->totals();
    ASSERT_EQ(totals.size(), 1u);
    EXPECT_EQ(totals[0].key, "CPUEnergy");
    EXPECT_NEAR(totals[0].value, 77.125 * 2 + 1, 1e-9);
}

TEST_F(EnergyPowerReaderTest, ChannelIsReportedFromItsFirstPositiveCountUpToOneThousandWatts) {
    const auto cpu = channel("CPU Energy", "mJ");
    const auto gpu = channel("GPU Energy", "mJ");
    source->setCountRate(cpu, 1'000.0);
    readAt(1.0);
    source->addCount(gpu, -5); // neither reported nor marking the channel active
    EXPECT_EQ(readAt(2.0), (Readings{{"CPUModelPower", 1.0}}));
    source->addCount(gpu, 0);
    EXPECT_EQ(readAt(3.0), (Readings{{"CPUModelPower", 1.0}}));

    source->addCount(gpu, 500);
    EXPECT_EQ(readAt(4.0), (Readings{{"CPUModelPower", 1.0}, {"GPUModelPower", 0.5}}));
    source->setCountRate(cpu, 0.0);
    EXPECT_EQ(readAt(5.0), (Readings{{"CPUModelPower", 0.0}, {"GPUModelPower", 0.0}}));
    source->addCount(cpu, 1'000'000);
    EXPECT_EQ(readAt(6.0), (Readings{{"CPUModelPower", 1000.0}, {"GPUModelPower", 0.0}}));
    source->addCount(cpu, 1'000'001);
    EXPECT_EQ(readAt(7.0), (Readings{{"GPUModelPower", 0.0}}));
    source->addCount(gpu, -5); // a counter going back, even on an active channel
    EXPECT_EQ(readAt(8.0), (Readings{{"CPUModelPower", 0.0}}));
}

TEST_F(EnergyPowerReaderTest, SkipsNamelessForeignAndUnlabelledChannelsAndKeepsDeltaOrder) {
    const auto gpu = channel("GPU Energy", "uJ");
    const auto nameless = channel(std::nullopt, "mJ");
    const auto foreign = channel("ANE Energy", "mJ");
    const auto unlabelled = channel("CPU Energy", std::nullopt);
    const auto cpu = channel("CPU Energy", "mJ");
    for (auto id : {gpu, nameless, foreign, unlabelled, cpu})
        source->setCountRate(id, 1'000.0);
    source->setCountRate(gpu, 500'000.0);
    readAt(5.0);
    EXPECT_EQ(readAt(6.0), (Readings{{"GPUModelPower", 0.5}, {"CPUModelPower", 1.0}}));
}

TEST_F(EnergyPowerReaderTest, FailedSetUpIsNeverRetried) {
    for (const auto& fault : setUpFaults) {
        SCOPED_TRACE(&fault - setUpFaults);
        restart();
        source->setCountRate(channel("CPU Energy", "J"), 1.0);
        source->setFaults(fault);
        EXPECT_TRUE(readAt(1.0).empty());
        source->setFaults({});
        for (double uptime : {2.0, 3.0, 4.0})
            EXPECT_TRUE(readAt(uptime).empty());
        EXPECT_EQ(source->groupCopies(), 1);
    }
}

// Set up from a subscription that names no channels: the copied list is sampled instead.
TEST_F(EnergyPowerReaderTest, FailedSampleClearsTheBaselineButUnusableDeltaRenewsIt) {
    const auto cpu = channel("CPU Energy", "J");
    source->setFaults({.subscribedChannelsMissing = true});
    readAt(1.0);
    source->addCount(cpu, 100);
    source->setFaults({.sampleFails = true});
    EXPECT_TRUE(readAt(2.0).empty());
    source->setFaults({});
    EXPECT_TRUE(readAt(3.0).empty()); // baseline only
    double uptime = 3.0;
    for (const SimIOReportFaults& fault :
         {SimIOReportFaults{.deltaFails = true}, SimIOReportFaults{.deltaLacksChannels = true}}) {
        source->addCount(cpu, 100);
        source->setFaults(fault);
        EXPECT_TRUE(readAt(uptime += 1.0).empty());
        source->setFaults({});
        source->addCount(cpu, 3);
        EXPECT_EQ(readAt(uptime += 1.0), (Readings{{"CPUModelPower", 3.0}}));
    }
}

} // namespace
} // namespace brivane
