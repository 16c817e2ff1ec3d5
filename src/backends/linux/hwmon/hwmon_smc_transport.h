#pragma once

#include "backends/linux/polling/sensor_poller.h"
#include "backends/posix/shared/smc_key_table.h"
#include "platform/smc_transport.h"

#include <array>
#include <atomic>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

struct SMCCatalog; // what discovery found

// The Apple SMC as Linux shows it to a user: the hardware-monitor chip of its driver
// ("applesmc" on Intel Macs, "macsmc_hwmon" on Apple silicon). Opening finds the chip and
// answers the parameter blocks as the SMC user client would, for the keys the chip exposes:
// its temperatures under their key names, the fan keys, the power keys, "#KEY" and the key
// index. Values go out as "flt " in degrees Celsius, RPM or watts, the sysfs units converted
// here, from the latest values a SensorPoller read. Without such a chip there is no SMC, which
// opening reports in plain words (absenceNote()).
class HwmonSMCTransport final : public SMCTransport {
public:
    explicit HwmonSMCTransport(const std::string& sysRoot = "/sys", SensorPoller::Setup setup = {});

    SMCOpenResult open() override;
    KernReturn call(std::uint32_t connection, std::uint32_t selector, SMCInputBlock input,
                    SMCOutputBlock output) override;
    KernReturn close(std::uint32_t connection) override;
    const char* errorText(KernReturn code) const override;
    std::string_view absenceNote() const override;

    // Without background lanes (tests): runs what is due now.
    void step() { poller_.step(); }

    static constexpr std::uint32_t kConnection = 0x534D43;

    // One key of the table: a fixed value, or a channel read and scaled to a "flt ".
    struct Key {
        std::uint32_t code = 0;
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        std::uint8_t attributes = 0;
        std::array<std::uint8_t, 32> bytes{}; // fixed value when there is no channel
        std::optional<std::size_t> channel;
        double scale = 1; // from the file's unit to the key's
    };

private:
    CatalogPoller<SMCCatalog> poller_;
    std::atomic<std::uint32_t> connection_{0};
};

} // namespace brivane::platform::linux_backend
