#pragma once

#include "platform/sensor_kinds.h"

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace brivane::platform {

// One temperature of a hardware monitor other than the SMC, in degrees Celsius: only plausible
// ones (isPlausibleCelsius), and the `sensors` entry of an input is listed only while its
// temperature is.
struct MonitorTemperature {
    std::string_view key; // "<chip>/<label>"
    double celsius = 0;
};

// One fan of a hardware monitor other than the SMC.
struct MonitorFan {
    int index = 0;         // position among all discovered fans, fixed for the life of the process
    std::string_view name; // "<chip>/<label>", as temperature keys
    double rpm = 0;
    std::optional<double> maximumRPM;
    std::optional<double> minimumRPM;
};

// One power figure of a hardware monitor, in watts.
struct MonitorPower {
    std::string_view key; // "<chip>/<label>"
    double watts = 0;
    std::string_view
        alias; // the snapshot's own key for the same figure ("GPUModelPower"), or empty
};

// One input of a monitor of any type (temperatures, fans and powers again, voltages, currents,
// energy counters, humidities, intrusion detectors) with the limits and alarms its driver has.
// Limits change rarely and are read about once a minute; alarms with the values.
struct MonitorSensor {
    std::string_view key; // as the temperature, fan or power of the same input, "<chip>/<label>"
    SensorKind kind = SensorKind::temperature;
    std::optional<double> value; // in the kind's unit; absent for a detector that only alarms
    std::array<std::optional<double>, sensorLimitCount> limits{}; // by SensorLimit
    std::array<std::optional<bool>, sensorAlarmCount> alarms{};   // by SensorAlarm
    std::optional<bool> fault;
};

// A back end whose reads can hang, and whether it is up: false while a hung read keeps some of
// its sensors out of reach.
struct MonitorSource {
    std::string name;
    bool up = true;
    std::size_t retiredFiles = 0; // files not read for now: they kept failing
};

// What the monitors read for one snapshot, in a stable order. Only sensors that have a value
// are listed. Keys and names view the monitor's own text, valid until its next sample.
struct MonitorSample {
    std::vector<MonitorTemperature> temperatures;
    std::vector<MonitorFan> fans;
    std::vector<MonitorPower> power;
    std::vector<MonitorSource> sources{}; // empty where no back end can hang
    std::vector<MonitorSensor> sensors{};
};

// The machine's hardware monitors besides the SMC (CPU packages, disks, graphics cards, board
// chips), which may come and go. Calls never throw and never wait on a sensor; a sensor without
// a value is left out of that sample. Called from one thread at a time.
class HardwareMonitor {
public:
    virtual ~HardwareMonitor() = default;
    // The current values; the record is reused by the next call.
    virtual const MonitorSample& sample() = 0;
};

// The platform's monitors; defined by the back end the executable links.
std::shared_ptr<HardwareMonitor> makeDefaultHardwareMonitor();

// A machine without such monitors (the simulated one).
class NoHardwareMonitor final : public HardwareMonitor {
public:
    const MonitorSample& sample() override { return empty_; }

private:
    MonitorSample empty_;
};

} // namespace brivane::platform
