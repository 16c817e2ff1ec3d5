#pragma once

#include "backends/linux/gpu/nvml_session.h"
#include "backends/linux/polling/sensor_poller.h"
#include "platform/registry.h"

#include <string>

namespace brivane::platform::linux_backend {

// The two registry classes the companion reads (platform/registry_names.h), from sysfs:
// - the battery: the power supplies of type Battery whose scope is System (no scope file means
//   System) taken together, with the temperature from `temp` (tenths of a degree) and the
//   voltage from `voltage_now` (microvolts) of the one that powers the machine;
// - the accelerators: one entry per graphics card that tells how busy it is or has a hwmon chip
//   (drm_cards.h), busiest first, its class the driver, its name, PCI address and sleep as
//   properties, and its statistics holding the device utilisation, memory, power and
//   temperature once the card has given them.
// Every other class has no entries. Every card listed reports graphics, whatever its driver.
// The batteries' files are read by a SensorPoller, so a lookup never waits on a battery gauge;
// batteries and cards are looked for again as they come and go.
class SysfsRegistry final : public Registry {
public:
    explicit SysfsRegistry(const std::string& sysRoot = "/sys",
                           const SensorPoller::Setup& setup = {},
                           std::string nvmlLibrary = "libnvidia-ml.so.1");
    // With a session of the NVIDIA library shared with the cards' clients (drm_clients.h).
    SysfsRegistry(const std::string& sysRoot, SensorPoller::Setup setup,
                  std::shared_ptr<NvmlSession> nvml);

    std::unique_ptr<RegistryEntry> firstEntry(std::string_view className) override;
    std::unique_ptr<RegistryIterator> matchingEntries(std::string_view className) override;
    bool isGraphicsAcceleratorClass(std::string_view ioClass) const override;

    // Without background lanes (tests): runs what is due now.
    void step() { poller_.step(); }

private:
    struct Catalog;
    std::shared_ptr<NvmlSession> nvml_;
    CatalogPoller<Catalog> poller_;
};

} // namespace brivane::platform::linux_backend
