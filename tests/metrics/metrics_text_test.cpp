#include "metrics_exporter.h"
#include "metrics_text.h"

#include <gtest/gtest.h>
#include <sstream>

namespace brivane::cli {
namespace {

// The sample lines of the text, without the # HELP and # TYPE lines.
std::vector<std::string> samples(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("#")) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string textOf(const SensorSnapshot* snapshot) {
    return exposition(metricFamilies(snapshot, 0.25));
}

TEST(MetricsText, EveryReadingIsASeriesWithItsUnit) {
    SensorSnapshot snapshot;
    snapshot.temperatures = {{"TC0P", 45.5}, {"BatteryTemperature", 30}};
    snapshot.fans = {{0, "Left", 1200, 5000}, {1, std::nullopt, 900, std::nullopt}};
    snapshot.power = {{{"PSTR", 9.5}, {"CPUModelPower", 2.25}, {"BatteryVoltage", 12.5}}};
    snapshot.graphics = {{0.5, 0.25, std::nullopt}};
    snapshot.accessories = {{{"Mouse", std::nullopt, 0.5}, {"Buds", "Left", 0.75}}};
    snapshot.companionVersion = "1.2.3";

    const std::vector<std::string> expected = {
        "brivane_up 1",
        "brivane_scrape_duration_seconds 0.25",
        R"(brivane_companion_info{version="1.2.3"} 1)",
        R"(brivane_temperature_celsius{sensor="TC0P"} 45.5)",
        R"(brivane_temperature_celsius{sensor="BatteryTemperature"} 30)",
        // A fan without a name has no name label and, without a maximum, no maximum series.
        R"(brivane_fan_speed_rpm{fan="0",name="Left"} 1200)",
        R"(brivane_fan_speed_rpm{fan="1"} 900)",
        R"(brivane_fan_max_speed_rpm{fan="0",name="Left"} 5000)",
        R"(brivane_power_watts{source="PSTR"} 9.5)",
        R"(brivane_power_watts{source="CPUModelPower"} 2.25)",
        "brivane_battery_voltage_volts 12.5",
        R"(brivane_gpu_utilization_ratio{unit="device"} 0.5)",
        R"(brivane_gpu_utilization_ratio{unit="renderer"} 0.25)",
        R"(brivane_accessory_battery_ratio{name="Mouse"} 0.5)",
        R"(brivane_accessory_battery_ratio{name="Buds",part="Left"} 0.75)",
    };
    const auto text = textOf(&snapshot);
    EXPECT_EQ(samples(text), expected) << text;
    EXPECT_NE(text.find("# TYPE brivane_battery_voltage_volts gauge\n"), std::string::npos);
}

TEST(MetricsText, WithoutASnapshotOnlyUpAndTheDurationRemain) {
    const std::vector<std::string> expected = {"brivane_up 0",
                                               "brivane_scrape_duration_seconds 0.25"};
    EXPECT_EQ(samples(textOf(nullptr)), expected);
    // An empty snapshot has no reading families at all, not headers without samples.
    SensorSnapshot empty;
    EXPECT_EQ(textOf(&empty).find("brivane_temperature_celsius"), std::string::npos);
}

TEST(MetricsText, LabelValuesAreEscaped) {
    struct Case {
        std::string name;
        std::string written;
    };
    const Case cases[] = {
        {"say \"hi\"", R"(say \"hi\")"}, {"C:\\fan", R"(C:\\fan)"}, {"two\nlines", R"(two\nlines)"},
        {"Lüfter °C ✓", "Lüfter °C ✓"},  {"\\\"\n", R"(\\\"\n)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        SensorSnapshot snapshot;
        snapshot.accessories = {{{c.name, c.name, 1}}};
        const std::string line = "brivane_accessory_battery_ratio{name=\"" + c.written +
                                 "\",part=\"" + c.written + "\"} 1";
        EXPECT_EQ(samples(textOf(&snapshot)).back(), line);
    }
}

TEST(MetricsText, RepeatedLabelSetsAreNumbered) {
    SensorSnapshot snapshot;
    snapshot.accessories = {{{"Mouse", std::nullopt, 0.1},
                             {"Mouse", std::nullopt, 0.2},
                             {"Mouse #2", std::nullopt, 0.3},
                             {"Buds", "Left", 0.4},
                             {"Buds", "Right", 0.5}}};
    const auto lines = samples(textOf(&snapshot));
    const std::vector<std::string> expected = {
        R"(brivane_accessory_battery_ratio{name="Mouse"} 0.1)",
        R"(brivane_accessory_battery_ratio{name="Mouse #2"} 0.2)",
        R"(brivane_accessory_battery_ratio{name="Mouse #2 #2"} 0.3)",
        R"(brivane_accessory_battery_ratio{name="Buds",part="Left"} 0.4)",
        R"(brivane_accessory_battery_ratio{name="Buds",part="Right"} 0.5)",
    };
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()), expected);
}

TEST(ListenAddress, TakesAnIpAddressAndAPort) {
    struct Case {
        const char* text;
        const char* host; // nullptr: rejected
        int port;
        bool loopback;
    };
    const Case cases[] = {
        {"127.0.0.1:9464", "127.0.0.1", 9464, true},
        {"127.1.2.3:0", "127.1.2.3", 0, true},
        {"localhost:80", "127.0.0.1", 80, true},
        {"[::1]:9464", "[::1]", 9464, true},
        {"0.0.0.0:9464", "0.0.0.0", 9464, false},
        {"192.168.1.5:9464", "192.168.1.5", 9464, false},
        {"[::]:9464", "[::]", 9464, false},
        {"9464", nullptr, 0, false},
        {":9464", nullptr, 0, false},
        {"127.0.0.1:", nullptr, 0, false},
        {"127.0.0.1:65536", nullptr, 0, false},
        {"127.0.0.1:+1", nullptr, 0, false},
        {"127.0.0.1:94a", nullptr, 0, false},
        {"::1:9464", nullptr, 0, false},
        {"[::1:9464", nullptr, 0, false},
        {"example.org:9464", nullptr, 0, false},
        {"127.0.0.1 :9464", nullptr, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto address = parseListenAddress(c.text);
        ASSERT_EQ(address.has_value(), c.host != nullptr);
        if (address) {
            EXPECT_EQ(address->host, c.host);
            EXPECT_EQ(address->port, c.port);
            EXPECT_EQ(address->loopback, c.loopback);
        }
    }
}

} // namespace
} // namespace brivane::cli
