#include "core/companion_harness.h"
#include "formats/document_codec.h"
#include "platform/sim/canned_outputs.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace brivane::testing {
namespace {

using platform::RegistryDictionary;
using platform::sim::SimProperties;
using Reading = SensorSnapshot::Reading;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

class SnapshotAssembly : public ::testing::Test {
public:
    std::optional<std::string> snapshotBytes() {
        if (!service) {
            service = harness.make();
        }
        return answer([this](auto reply) { service->snapshotWithReply(std::move(reply)); });
    }

    SensorSnapshot snapshot() {
        const auto bytes = snapshotBytes();
        EXPECT_TRUE(bytes.has_value());
        const auto decoded = decodeSensorSnapshot(bytes.value_or(""));
        EXPECT_TRUE(decoded.has_value()) << bytes.value_or("");
        return decoded.value_or(SensorSnapshot{});
    }

    void addBattery(std::optional<double> temperature, std::optional<double> voltage) {
        SimProperties properties;
        if (temperature) {
            properties["Temperature"] = *temperature;
        }
        if (voltage) {
            properties["Voltage"] = *voltage;
        }
        harness.registry->add("AppleSmartBattery", std::move(properties));
    }

    void addAccelerator(std::string ioClass, RegistryDictionary statistics) {
        harness.registry->add("IOAccelerator", {{"IOClass", std::move(ioClass)},
                                                {"PerformanceStatistics", std::move(statistics)}});
    }

    CompanionHarness harness;
    std::unique_ptr<SensorCompanion> service;
};

TEST_F(SnapshotAssembly, WritesTheSmallestDocumentExactly) {
    addBattery(3050, std::nullopt);
    harness.smc->values = {{"FNum", 1}, {"F0Ac", 1200}};
    EXPECT_EQ(snapshotBytes(),
              R"({"version":2,"temperatures":[{"key":"BatteryTemperature","value":30.5}],)"
              R"("fans":[{"id":0,"rpm":1200}],"helperUID":501,"helperEffectiveUID":501,)"
              R"("power":[],"accessories":[],"supportsProcessDetails":true,)"
              R"("supportsStorageHealth":true,"supportsManagement":true})");
}

TEST_F(SnapshotAssembly, TemperatureKeysAreSortedByCharacterCodeAndOnlyTKeysAreRead) {
    harness.smc->indexOrder = {"Tp01", "TC0P", "tA00", "PSTR", "Ta0P", "TB0T", "T0x1"};
    for (const auto& key : harness.smc->indexOrder) {
        harness.smc->values[key] = 40;
    }
    const auto temperatures = snapshot().temperatures;
    std::vector<std::string> keys;
    for (const auto& reading : temperatures) {
        keys.push_back(reading.key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"T0x1", "TB0T", "TC0P", "Ta0P", "Tp01"}));
    EXPECT_FALSE(harness.smc->readKeys.contains("tA00"));
}

TEST_F(SnapshotAssembly, TemperaturesMustLieStrictlyBetweenZeroAndOneHundredFifty) {
    const std::vector<std::pair<double, bool>> cases = {
        {0, false},  {150, false},   {149.9, true}, {0.01, true},
        {-5, false}, {150.1, false}, {nan, false},  {infinity, false}};
    for (std::size_t index = 0; index < cases.size(); ++index) {
        const std::string key = "TK" + std::to_string(10 + index);
        harness.smc->indexOrder.push_back(key);
        harness.smc->values[key] = cases[index].first;
    }
    const auto temperatures = snapshot().temperatures;
    std::vector<Reading> expected;
    for (std::size_t index = 0; index < cases.size(); ++index) {
        if (cases[index].second) {
            expected.push_back({"TK" + std::to_string(10 + index), cases[index].first});
        }
    }
    EXPECT_EQ(temperatures, expected);
}

TEST_F(SnapshotAssembly, KeyDiscoveryRunsOnceAndAnEmptyResultIsKept) {
    EXPECT_TRUE(snapshot().temperatures.empty());
    harness.smc->indexOrder = {"TC0P"};
    harness.smc->values["TC0P"] = 50;
    EXPECT_TRUE(snapshot().temperatures.empty());
    EXPECT_EQ(harness.smc->enumerations, 1);
}

TEST_F(SnapshotAssembly, BatteryFiguresPassTheirRangesAndTakeTheirPlaces) {
    struct Case {
        std::optional<double> temperature, voltage;
        std::optional<double> celsius, volts;
    };
    const std::vector<Case> cases = {
        {3050, 1000, 30.5, 1.0},
        {0, 30000, std::nullopt, 30.0},
        {10001, 999, std::nullopt, std::nullopt},
        {1, 30001, 0.01, std::nullopt},
        {10000, std::nullopt, 100.0, std::nullopt},
        {nan, nan, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        CompanionHarness fresh;
        harness.registry = fresh.registry;
        service.reset();
        addBattery(c.temperature, c.voltage);
        harness.smc->indexOrder = {"TC0P"};
        harness.smc->values = {{"TC0P", 45}, {"PSTR", 12}};
        const auto result = snapshot();

        std::vector<Reading> temperatures = {{"TC0P", 45}};
        if (c.celsius) {
            temperatures.push_back({"BatteryTemperature", *c.celsius});
        }
        std::vector<Reading> power = {{"PSTR", 12}};
        if (c.volts) {
            power.push_back({"BatteryVoltage", *c.volts});
        }
        EXPECT_EQ(result.temperatures, temperatures) << c.temperature.value_or(-1);
        EXPECT_EQ(result.power, power) << c.voltage.value_or(-1);
    }
}

TEST_F(SnapshotAssembly, FanCountIsTruncatedAndBoundedToTen) {
    const std::vector<std::pair<std::optional<double>, std::size_t>> cases = {
        {2.7, 2}, {1, 1},   {10, 10}, {10.5, 0},        {11, 0},
        {0, 0},   {0.5, 0}, {nan, 0}, {std::nullopt, 0}};
    for (const auto& [count, expected] : cases) {
        service.reset();
        harness.smc->values.clear();
        if (count) {
            harness.smc->values["FNum"] = *count;
        }
        for (int fan = 0; fan < 12; ++fan) {
            harness.smc->values["F" + std::to_string(fan) + "Ac"] = 1000 + fan;
        }
        const auto fans = snapshot().fans;
        ASSERT_EQ(fans.size(), expected) << count.value_or(-1);
        for (std::size_t index = 0; index < fans.size(); ++index) {
            EXPECT_EQ(fans[index].id, static_cast<std::int64_t>(index));
        }
    }
}

TEST_F(SnapshotAssembly, FansKeepTheirIndicesAndOptionalFields) {
    harness.smc->values = {{"FNum", 5},    {"F0Ac", 0},    {"F1Ac", -3},   {"F2Ac", infinity},
                           {"F3Ac", 2400}, {"F3Mx", 5900}, {"F4Ac", 1800}, {"F4Mx", nan}};
    harness.smc->names = {{"F0ID", ""}, {"F3ID", "Left"}};
    const auto result = snapshotBytes();
    ASSERT_TRUE(result.has_value()) << "a bad maximum must not cost the whole snapshot";
    const auto fans = decodeSensorSnapshot(*result).value().fans;
    const std::vector<SensorSnapshot::FanReading> expected = {
        {0, std::nullopt, 0, std::nullopt},
        {3, "Left", 2400, 5900},
        {4, std::nullopt, 1800, std::nullopt},
    };
    EXPECT_EQ(fans, expected);
}

TEST_F(SnapshotAssembly, PowerListsSMCKeysThenEnergyThenBatteryVoltage) {
    addBattery(std::nullopt, 12600);
    harness.smc->values = {{"PSTR", 0},  {"PCPC", 1000}, {"PG0R", 1000.5},
                           {"PMTR", -1}, {"PPBR", 7.25}, {"PXXX", 3}};
    snapshot();
    harness.clock->advance(1.0);
    const auto power = snapshot().power.value();

    ASSERT_GE(power.size(), 4u);
    EXPECT_EQ(power[0], (Reading{"PSTR", 0}));
    EXPECT_EQ(power[1], (Reading{"PCPC", 1000}));
    EXPECT_EQ(power[2], (Reading{"PPBR", 7.25}));
    EXPECT_EQ(power.back(), (Reading{"BatteryVoltage", 12.6}));
    for (std::size_t index = 3; index + 1 < power.size(); ++index) {
        EXPECT_TRUE(power[index].key == "CPUModelPower" || power[index].key == "GPUModelPower")
            << power[index].key;
    }
    EXPECT_GT(power.size(), 4u) << "the energy readings of the second sample are missing";
}

TEST_F(SnapshotAssembly, GraphicsComesFromTheFirstUsableAGXAccelerator) {
    struct Case {
        const char* name;
        std::function<void(SnapshotAssembly&)> setUp;
        std::optional<SensorSnapshot::GraphicsReading> expected;
    };
    const std::vector<Case> cases = {
        {"other classes are ignored",
         [](SnapshotAssembly& t) {
             t.addAccelerator("IOFramebuffer", {{"Device Utilization %", 90.0}});
             t.addAccelerator("AGXAcceleratorG13X", {{"Device Utilization %", 25.0},
                                                     {"Renderer Utilization %", 20.0},
                                                     {"Tiler Utilization %", 5.0}});
         },
         SensorSnapshot::GraphicsReading{0.25, 0.2, 0.05}},
        {"out-of-range device utilisation falls back to activity",
         [](SnapshotAssembly& t) {
             t.addAccelerator("MyAgxThing", {{"Device Utilization %", 150.0},
                                             {"GPU Activity(%)", 40.0},
                                             {"Renderer Utilization %", 101.0}});
         },
         SensorSnapshot::GraphicsReading{0.4, std::nullopt, std::nullopt}},
        {"an accelerator without utilisation is passed over",
         [](SnapshotAssembly& t) {
             t.addAccelerator("AGXFirst", {{"Device Utilization %", std::string("busy")}});
             t.harness.registry->add("IOAccelerator", {{"IOClass", std::string("AGXPlain")},
                                                       {"PerformanceStatistics", 3.0}});
             t.addAccelerator("AGXSecond", {{"GPU Activity(%)", 0.0}});
             t.addAccelerator("AGXThird", {{"GPU Activity(%)", 70.0}});
         },
         SensorSnapshot::GraphicsReading{0.0, std::nullopt, std::nullopt}},
        {"a failed lookup gives nothing",
         [](SnapshotAssembly& t) {
             t.addAccelerator("AGXAccelerator", {{"Device Utilization %", 25.0}});
             t.harness.registry->failLookups("IOAccelerator");
         },
         std::nullopt},
        {"no accelerator at all", [](SnapshotAssembly&) {}, std::nullopt},
    };
    for (const auto& c : cases) {
        harness.registry = std::make_shared<platform::sim::SimRegistry>();
        service.reset();
        c.setUp(*this);
        EXPECT_EQ(snapshot().graphics, c.expected) << c.name;
    }
}

TEST_F(SnapshotAssembly, AccessoryToolRunsAtMostEveryThirtySecondsAndAFailedRunEmptiesTheList) {
    const std::string pmset = "/usr/bin/pmset";
    const std::vector<std::string> arguments = {"-g", "accps", "-xml"};
    const auto runs = [&] { return harness.scripted->calls(pmset, arguments); };
    const std::vector<SensorSnapshot::AccessoryReading> none;
    harness.scripted->answer(pmset, arguments, 0, platform::sim::cannedPmsetOutput());
    const auto first = snapshot().accessories.value();
    EXPECT_FALSE(first.empty());

    harness.scripted->answer(pmset, arguments, 1, platform::sim::cannedPmsetOutput());
    harness.clock->advance(29.9);
    EXPECT_EQ(snapshot().accessories, first);
    EXPECT_EQ(runs(), 1u);
    harness.clock->advance(0.1);
    EXPECT_EQ(snapshot().accessories, none);
    EXPECT_EQ(runs(), 2u);

    harness.scripted->answer(pmset, arguments, 0, platform::sim::cannedPmsetOutput());
    harness.clock->advance(29.9);
    EXPECT_EQ(snapshot().accessories, none) << "a failed run waits its interval too";
    EXPECT_EQ(runs(), 2u);
    harness.clock->advance(0.1);
    EXPECT_EQ(snapshot().accessories, first);
    EXPECT_EQ(runs(), 3u);
}

TEST_F(SnapshotAssembly, FlagsVersionAndUserIdsAreAlwaysFilledIn) {
    harness.bundleStrings["CFBundleShortVersionString"] = "1.4.2";
    harness.processes = std::make_shared<platform::sim::SimProcessTable>(1, 4294967295u, 7);
    const auto result = snapshot();
    EXPECT_EQ(result.version, 2);
    EXPECT_EQ(result.helperUID, 4294967295u);
    EXPECT_EQ(result.helperEffectiveUID, 7u);
    EXPECT_EQ(result.supportsProcessDetails, true);
    EXPECT_EQ(result.supportsStorageHealth, true);
    EXPECT_EQ(result.supportsManagement, true);
    EXPECT_EQ(result.companionVersion, "1.4.2");
    EXPECT_TRUE(result.accessories.has_value());
    // No battery entry: neither battery figure, and the power list is still written.
    EXPECT_TRUE(result.temperatures.empty());
    EXPECT_EQ(result.power, std::vector<Reading>{});
}

} // namespace
} // namespace brivane::testing
