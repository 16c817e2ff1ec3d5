#pragma once

#include "backends/linux/gpu/card_activity.h"
#include "backends/linux/hwmon/hwmon_monitor_catalog.h"
#include "backends/linux/polling/sensor_poller.h"
#include "platform/hardware_monitor.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace brivane::platform::linux_backend {

// Every hwmon chip but the Apple SMC's (which the SMC transport serves), read from sysfs
// directly by a SensorPoller: temperatures keyed "<chip>/<label>", fans named "<chip>/<label>",
// power channels in watts keyed "<chip>/<label>"; and the thermal zones no chip shows, keyed
// "thermal_zone/<type>". Chips come and go with the hardware; a fan keeps its id for the life
// of the monitor.
// Board chips (Super-I/O, WMI) list every header: a fan of theirs is shown once it has been
// seen turning, and an input that reads far above every processor sensor is taken for an
// unconnected one and left out until it reads like a sensor again (isGhostTemperature). A
// temperature outside the snapshot's range (isPlausibleCelsius) is no reading. Fans outside 0
// to kFanCeiling RPM are read errors. Limits the drivers report when they have none are left
// out (unset_limits.h). Of several graphics cards' power, the busiest card's (by `Setup::cards`,
// else the one drawing the most) stands for "GPUModelPower". Every input of any type is also
// listed with its limits (read once a minute) and its alarm and fault flags (read with the
// values), under the key its temperature, fan or power has.
class HwmonHardwareMonitor final : public HardwareMonitor {
public:
    explicit HwmonHardwareMonitor(const std::string& sysRoot = "/sys",
                                  const SensorPoller::Setup& setup = {});

    const MonitorSample& sample() override;

    // Without background lanes (tests): runs what is due now.
    void step() { poller_.step(); }

private:
    void adopt(const MonitorCatalog& catalog);
    // Every input of the held catalog with a value, with its limits and flags.
    void addSensors(const ChannelSet& channels);

    CatalogPoller<MonitorCatalog> poller_;
    std::shared_ptr<SharedDemand> demand_;
    std::shared_ptr<const CardActivity> cards_;
    std::shared_ptr<const MonitorCatalog> held_; // the catalog sample_ views
    std::vector<int> fanIds_;                    // per fan of held_
    std::vector<bool> turned_;                   // per fan of held_: seen turning
    std::vector<std::optional<double>> ghosts_; // per temperature of held_: the reading that hid it
    std::vector<bool> shownTemperatures_;       // per temperature of held_, this sample
    std::vector<bool> shownFans_;               // per fan of held_, this sample
    std::unordered_map<std::string, int> fanIdByName_;
    std::set<std::string, std::less<>> turnedFans_;
    std::map<std::string, double, std::less<>> ghostKeys_; // hidden inputs, by key
    MonitorSample sample_;
};

} // namespace brivane::platform::linux_backend
