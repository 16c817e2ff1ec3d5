#include "core/companion_harness.h"
#include "formats/document_codec.h"
#include "platform/sim/canned_outputs.h"

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
        if (!service)
            service = harness.make();
        return answer([this](auto reply) { service->snapshotWithReply(std::move(reply)); });
    }

    SensorSnapshot snapshot() {
        const auto bytes = snapshotBytes();
        const auto decoded = decodeSensorSnapshot(bytes.value_or(""));
        EXPECT_TRUE(decoded.has_value()) << bytes.value_or("no reply");
        return decoded.value_or(SensorSnapshot{});
    }

    // A new service over an empty registry, for the next case of a table.
    void restart() {
        harness.registry = std::make_shared<platform::sim::SimRegistry>();
        service.reset();
    }

    void addBattery(std::optional<double> temperature, std::optional<double> voltage) {
        SimProperties properties;
        if (temperature)
            properties["Temperature"] = *temperature;
        if (voltage)
            properties["Voltage"] = *voltage;
        harness.registry->add("AppleSmartBattery", std::move(properties));
    }

    CompanionHarness harness;
    std::unique_ptr<SensorCompanion> service;
};

TEST_F(SnapshotAssembly, WritesTheSmallestDocumentExactly) {
    addBattery(3050, std::nullopt);
    harness.smc->values = {{"FNum", 1}, {"F0Ac", 1200}};
    harness.processes = std::make_shared<platform::sim::SimProcessTable>(1, 4294967295u, 7);
    EXPECT_EQ(snapshotBytes(),
              R"({"version":2,"temperatures":[{"key":"BatteryTemperature","value":30.5}],)"
              R"("fans":[{"id":0,"rpm":1200}],"helperUID":4294967295,"helperEffectiveUID":7,)"
              R"("power":[],"accessories":[],"supportsProcessDetails":true,)"
              R"("supportsStorageHealth":true,"supportsManagement":true})");
}

TEST_F(SnapshotAssembly, TemperaturesAreTKeysInCharacterOrderStrictlyBetweenZeroAnd150) {
    harness.smc->indexOrder = {"Tp01", "TC0P", "tA00", "PSTR", "Ta0P",
                               "T0x1", "TK1",  "TK2",  "TK5",  "TK6"};
    harness.smc->values = {{"Tp01", 40},    {"TC0P", 0.01},   {"tA00", 40}, {"PSTR", 40},
                           {"Ta0P", 149.9}, {"T0x1", 40},     {"TK1", 0},   {"TK2", 150},
                           {"TK5", nan},    {"TK6", infinity}};
    EXPECT_EQ(snapshot().temperatures,
              (std::vector<Reading>{{"T0x1", 40}, {"TC0P", 0.01}, {"Ta0P", 149.9}, {"Tp01", 40}}));
    EXPECT_FALSE(harness.smc->readKeys.contains("tA00"));
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
        std::optional<double> temperature, voltage, celsius, volts;
    };
    const std::optional<double> absent;
    const Case cases[] = {{3050, 1000, 30.5, 1.0},        {0, 30000, absent, 30.0},
                          {10001, 999, absent, absent},   {1, 30001, 0.01, absent},
                          {10000, absent, 100.0, absent}, {nan, nan, absent, absent}};
    harness.smc->indexOrder = {"TC0P"};
    harness.smc->values = {{"TC0P", 45}, {"PSTR", 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        restart();
        addBattery(c.temperature, c.voltage);
        std::vector<Reading> temperatures = {{"TC0P", 45}};
        if (c.celsius)
            temperatures.push_back({"BatteryTemperature", *c.celsius});
        std::vector<Reading> power = {{"PSTR", 12}};
        if (c.volts)
            power.push_back({"BatteryVoltage", *c.volts});
        const auto result = snapshot();
        EXPECT_EQ(result.temperatures, temperatures);
        EXPECT_EQ(result.power, power);
    }
}

TEST_F(SnapshotAssembly, FanCountIsTruncatedAndBoundedToTen) {
    const std::vector<std::pair<std::optional<double>, std::size_t>> cases = {
        {2.7, 2}, {10, 10}, {10.5, 0}, {0.5, 0}, {nan, 0}, {std::nullopt, 0}};
    for (int fan = 0; fan < 12; ++fan)
        harness.smc->values["F" + std::to_string(fan) + "Ac"] = 1000 + fan;
    for (const auto& [count, expected] : cases) {
        SCOPED_TRACE(count.value_or(-1));
        service.reset();
        harness.smc->values.erase("FNum");
        if (count)
            harness.smc->values["FNum"] = *count;
        const auto fans = snapshot().fans;
        ASSERT_EQ(fans.size(), expected);
        for (std::size_t index = 0; index < fans.size(); ++index)
            EXPECT_EQ(fans[index].id, static_cast<std::int64_t>(index));
    }
}

TEST_F(SnapshotAssembly, FansKeepTheirIndicesAndOptionalFields) {
    harness.smc->values = {{"FNum", 5},    {"F0Ac", 0},    {"F1Ac", -3},   {"F2Ac", infinity},
                           {"F3Ac", 2400}, {"F3Mx", 5900}, {"F4Ac", 1800}, {"F4Mx", nan}};
    harness.smc->names = {{"F0ID", ""}, {"F3ID", "Left"}};
    // A bad maximum must not cost the whole snapshot.
    const std::vector<SensorSnapshot::FanReading> expected = {
        {0, std::nullopt, 0, std::nullopt},
        {3, "Left", 2400, 5900},
        {4, std::nullopt, 1800, std::nullopt},
    };
    EXPECT_EQ(snapshot().fans, expected);
}

TEST_F(SnapshotAssembly, PowerListsSMCKeysThenEnergyThenBatteryVoltage) {
    addBattery(std::nullopt, 12600);
    harness.smc->values = {{"PSTR", 0},  {"PCPC", 1000}, {"PG0R", 1000.5},
                           {"PMTR", -1}, {"PPBR", 7.25}, {"PXXX", 3}};
    snapshot();
    harness.clock->advance(1.0);
    const auto power = snapshot().power.value();

    ASSERT_GT(power.size(), 4u) << "the energy readings of the second sample are missing";
    EXPECT_EQ(std::vector<Reading>(power.begin(), power.begin() + 3),
              (std::vector<Reading>{{"PSTR", 0}, {"PCPC", 1000}, {"PPBR", 7.25}}));
    EXPECT_EQ(power.back(), (Reading{"BatteryVoltage", 12.6}));
    for (std::size_t index = 3; index + 1 < power.size(); ++index) {
        EXPECT_TRUE(power[index].key == "CPUModelPower" || power[index].key == "GPUModelPower")
            << power[index].key;
    }
}

TEST_F(SnapshotAssembly, MonitorPowerFollowsTheEnergyReadingsAndFillsTheirKeyOnlyWhenFree) {
    struct Monitor final : platform::HardwareMonitor {
        const platform::MonitorSample& sample() override { return figures; }
        platform::MonitorSample figures{{},
                                        {},
                                        {{"a/PPT", 19, "GPUModelPower"},
                                         {"b/PPT", 5, "GPUModelPower"},
                                         {"c/PPT", 1000.5, "CPUModelPower"}}};
    };
    harness.monitor = std::make_shared<Monitor>();
    EXPECT_EQ(snapshot().power,
              (std::vector<Reading>{{"a/PPT", 19}, {"GPUModelPower", 19}, {"b/PPT", 5}}));
    harness.clock->advance(1.0);
    const auto power = snapshot().power.value();
    ASSERT_EQ(power.size(), 4u) << "CPU and GPU energy, then the two figures";
    EXPECT_EQ(power[1].key, "GPUModelPower");
    EXPECT_EQ(power[2], (Reading{"a/PPT", 19}));
}

TEST_F(SnapshotAssembly, GraphicsComesFromTheFirstUsableAGXAccelerator) {
    using Graphics = SensorSnapshot::GraphicsReading;
    const auto accelerator = [](std::string ioClass, RegistryDictionary statistics) {
        return SimProperties{{"IOClass", ioClass}, {"PerformanceStatistics", statistics}};
    };
    struct Case {
        const char* name;
        std::vector<SimProperties> accelerators;
        std::optional<Graphics> expected;
    };
    const Case cases[] = {
        {"other classes are ignored",
         {accelerator("IOFramebuffer", {{"Device Utilization %", 90.0}}),
          accelerator("AGXAcceleratorG13X", {{"Device Utilization %", 25.0},
                                             {"Renderer Utilization %", 20.0},
                                             {"Tiler Utilization %", 5.0}})},
         Graphics{0.25, 0.2, 0.05}},
        {"out-of-range device utilisation falls back to activity",
         {accelerator("MyAgxThing", {{"Device Utilization %", 150.0},
                                     {"GPU Activity(%)", 40.0},
                                     {"Renderer Utilization %", 101.0}})},
         Graphics{0.4, std::nullopt, std::nullopt}},
        {"an accelerator without utilisation is passed over",
         {accelerator("AGXFirst", {{"Device Utilization %", std::string("busy")}}),
          {{"IOClass", std::string("AGXPlain")}, {"PerformanceStatistics", 3.0}},
          accelerator("AGXSecond", {{"GPU Activity(%)", 0.0}}),
          accelerator("AGXThird", {{"GPU Activity(%)", 70.0}})},
         Graphics{0.0, std::nullopt, std::nullopt}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        for (const auto& properties : c.accelerators)
            harness.registry->add("IOAccelerator", properties);
        EXPECT_EQ(snapshot().graphics, c.expected);
    }
    harness.registry->failLookups("IOAccelerator");
    service.reset();
    EXPECT_EQ(snapshot().graphics, std::nullopt);
}

TEST_F(SnapshotAssembly, AccessoryToolRunsAtMostEveryThirtySecondsAndAFailedRunEmptiesTheList) {
    const std::string pmset = "/usr/bin/pmset";
    const std::vector<std::string> arguments = {"-g", "accps", "-xml"};
    const auto answerWith = [&](int status) {
        harness.scripted->answer(pmset, arguments, status, platform::sim::cannedPmsetOutput());
    };
    const std::vector<SensorSnapshot::AccessoryReading> none;
    answerWith(0);
    const auto first = snapshot().accessories.value();
    EXPECT_FALSE(first.empty());

    // The tool's exit status from now on and the seconds to advance; then the list and the runs.
    struct Step {
        int status;
        double advance;
        const std::vector<SensorSnapshot::AccessoryReading>& accessories;
        std::size_t runs;
    };
    const Step steps[] = {
        {1, 29.9, first, 1}, {1, 0.1, none, 2}, {0, 29.9, none, 2}, {0, 0.1, first, 3}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.runs);
        answerWith(step.status);
        harness.clock->advance(step.advance);
        EXPECT_EQ(snapshot().accessories, step.accessories);
        EXPECT_EQ(harness.scripted->calls(pmset, arguments), step.runs);
    }
}

} // namespace
} // namespace brivane::testing
