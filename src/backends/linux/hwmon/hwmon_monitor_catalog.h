#pragma once

#include "backends/linux/hwmon/hwmon_naming.h"
#include "backends/linux/polling/sensor_channels.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::platform::linux_backend {

// What the hardware monitor found: every hwmon chip but the Apple SMC's (the Apple-silicon
// driver's channels that the SMC transport does not serve stay here), chips in the order of
// their stable names, channels by kind and index.
struct MonitorCatalog {
    struct Temperature {
        std::string key; // "<chip>/<label>", "thermal_zone/<type>"
        std::size_t channel = 0;
        bool board = false;     // on a chip that lists unconnected inputs too
        bool processor = false; // measures the processor
    };
    struct Fan {
        std::string name; // "<chip>/<label>"
        std::size_t channel = 0;
        std::optional<std::size_t> maximum;
        std::optional<std::size_t> minimum;
        bool board = false;
    };
    struct Power {
        std::string key;        // "<chip>/<label>", watts
        std::string_view alias; // the snapshot's own key for the same figure, if any
        std::size_t channel = 0;
        std::string card; // a graphics card's PCI address
    };

    // Every input with its limits and flags, in the order found. A temperature or fan is shown
    // only while its entry above (`listed`) is.
    struct Sensor {
        std::string key;
        std::string driver; // the chip's name attribute, which the unset limits depend on
        SensorKind kind = SensorKind::temperature;
        std::size_t channel = 0;
        std::optional<std::size_t> listed; // in temperatures or fans
        bool flagOnly = false;             // no value, only its alarms or limits
        std::array<std::optional<std::size_t>, 7> limits{};
        std::array<std::optional<std::size_t>, 7> alarms{};
        std::optional<std::size_t> fault;
    };

    std::shared_ptr<ChannelSet> channels;
    std::vector<Temperature> temperatures;
    std::vector<Fan> fans;
    std::vector<Power> powers;
    std::vector<Sensor> sensors;
    std::size_t cards = 0; // graphics cards among the powers
};

// Walks class/hwmon, then the thermal zones no chip shows (thermal_zones.h), under the set's
// root, adding the channels it finds to `channels`.
std::shared_ptr<const MonitorCatalog> discoverMonitors(const std::shared_ptr<ChannelSet>& channels);

} // namespace brivane::platform::linux_backend
