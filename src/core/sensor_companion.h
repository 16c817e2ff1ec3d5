#pragma once

#include "base/serial_queue.h"
#include "core/turn_queue.h"
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "ipc/sensor_service_protocol.h"
#include "platform/bundle_info.h"
#include "platform/hardware_monitor.h"
#include "platform/process_table.h"
#include "platform/registry.h"
#include "platform/tool_runner.h"
#include "platform/uptime_clock.h"
#include "readers/cpu_details_reader.h"
#include "readers/energy_power_reader.h"
#include "readers/process_details_reader.h"
#include "smc/smc.h"
#include "update/companion_updater.h"

#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brivane {

// The agent's one service object: it owns the SMC connection, the readers, the updater and
// five serial work queues, and answers the five requests of the protocol. Every piece of
// mutable state is confined to one queue, so the object takes no lock of its own. The queues
// take clients in turn, serve identical waiting rankings with one run and skip abandoned work.
class SensorCompanion final : public ipc::BrivaneSensorSnapshotXPC {
public:
    // Everything the service reaches the machine through.
    struct Dependencies {
        std::shared_ptr<SMC> reader;
        std::shared_ptr<CompanionUpdater> updater;
        std::shared_ptr<ProcessDetailsReader> processReader;
        std::shared_ptr<EnergyPowerReader> energyPowerReader;
        // Called once, on the CPU queue, by the first CPU details request.
        std::function<std::unique_ptr<CPUDetailsReader>()> makeCPUReader;
        std::shared_ptr<platform::Registry> registry;
        std::shared_ptr<const platform::BundleInfo> bundleInfo;
        std::shared_ptr<platform::ToolRunner> toolRunner;
        std::shared_ptr<const platform::UptimeClock> clock;
        std::shared_ptr<const platform::ProcessTable> processTable;
        // Monitors besides the SMC; none when null.
        std::shared_ptr<platform::HardwareMonitor> hardwareMonitor;

        // The platform's own services, made in the order the service declares them.
        static Dependencies platformDefaults();
    };

    static constexpr std::string_view queueLabel = "dev.qorva.brivane.SensorCompanion.Readings";
    static constexpr std::string_view cpuQueueLabel = "dev.qorva.brivane.SensorCompanion.CPU";
    static constexpr std::string_view processQueueLabel =
        "dev.qorva.brivane.SensorCompanion.Processes";
    static constexpr std::string_view energyQueueLabel = "dev.qorva.brivane.SensorCompanion.Energy";
    static constexpr std::string_view storageQueueLabel =
        "dev.qorva.brivane.SensorCompanion.Storage";

    // Seconds of uptime between two runs of the accessory tool.
    static constexpr double accessoryInterval = 30.0;
    // A snapshot may run on the requester's thread (see snapshotIsQuick) within this many
    // seconds of the last one, well inside any back end's rest, when that one took less than
    // quickSnapshotTime and no tool run is due within quickSnapshotMargin.
    static constexpr double quickSnapshotWithin = 2.0;
    static constexpr double quickSnapshotTime = 0.001;
    static constexpr double quickSnapshotMargin = 1.0;

    SensorCompanion();
    explicit SensorCompanion(Dependencies dependencies);
    // Answers the requests still queued with no data instead of reading for them (the service
    // goes away only once its clients are gone, and a queue of rankings could take minutes),
    // then releases the readers and the SMC connection.
    ~SensorCompanion() override;

    SensorCompanion(const SensorCompanion&) = delete;
    SensorCompanion& operator=(const SensorCompanion&) = delete;

    void snapshotWithReply(Reply reply) override;
    void cpuDetailsWithReply(Reply reply) override;
    void processDetails(std::string kind, Reply reply) override;
    void storageHealth(std::string disk, Reply reply) override;
    void manage(std::string command, Reply reply) override;
    // Cancels an update in progress: its transfer could otherwise hold the exit for a minute.
    void invalidate() override;

private:
    struct BatteryReadings {
        std::optional<double> temperature;
        std::optional<double> voltage;
        // Watts the battery gives while it discharges: then the whole machine's draw.
        std::optional<double> dischargePower;
        std::optional<SensorSnapshot::BatteryReading> essentials;
    };

    // Queues `work(reply)` (merged with waiting work of the same non-empty key), or answers
    // with no data once the service is being released. The reply and the key are moved into
    // the queue, which the check cannot see through the template.
    // NOLINTBEGIN(performance-unnecessary-value-param)
    template <typename Work>
    void enqueue(TurnQueue& target, Reply reply, std::string key, Work work) {
        target.async(std::move(reply), std::move(key),
                     [this, work = std::move(work)](const Reply& reply) {
                         if (releasing_.load(std::memory_order_relaxed)) {
                             reply(std::nullopt);
                             return;
                         }
                         work(reply);
                     });
    }
    // NOLINTEND(performance-unnecessary-value-param)

    SensorSnapshot assembleSnapshot();
    bool snapshotIsQuick() const;
    const std::vector<std::string>& discoveredTemperatureKeys();
    BatteryReadings batteryReadings();
    std::vector<SensorSnapshot::FanReading> fans(const platform::MonitorSample& monitors);
    // The first accelerator's utilisation that is usable, and every accelerator as a card.
    struct GraphicsReadings {
        std::optional<SensorSnapshot::GraphicsReading> first;
        std::optional<std::vector<SensorSnapshot::GpuReading>> cards;
    };
    GraphicsReadings graphics();
    const std::vector<SensorSnapshot::AccessoryReading>& accessories();

    // Fields in the order the service is built.
    std::shared_ptr<SMC> reader;
    std::shared_ptr<CompanionUpdater> updater;
    std::unique_ptr<TurnQueue> queue;
    std::unique_ptr<TurnQueue> cpuQueue;
    std::unique_ptr<TurnQueue> processQueue;
    std::unique_ptr<TurnQueue> energyQueue;
    std::unique_ptr<TurnQueue> storageQueue;
    std::unique_ptr<CPUDetailsReader> cpuReader;
    std::shared_ptr<ProcessDetailsReader> processReader;
    std::shared_ptr<EnergyPowerReader> energyPowerReader;
    std::optional<std::vector<std::string>> temperatureKeys;
    std::vector<SensorSnapshot::AccessoryReading> accessoryReadings;
    double nextAccessoryRead = 0;

    std::function<std::unique_ptr<CPUDetailsReader>()> makeCPUReader_;
    std::shared_ptr<platform::Registry> registry_;
    // The bundle's dictionary is fixed for the life of the process.
    std::optional<std::string> companionVersion_;
    std::shared_ptr<platform::ToolRunner> toolRunner_;
    std::shared_ptr<const platform::UptimeClock> clock_;
    std::shared_ptr<const platform::ProcessTable> processTable_;
    std::shared_ptr<platform::HardwareMonitor> hardwareMonitor_; // never null
    std::atomic<bool> releasing_{false};
    // Capacity hint for the next snapshot reply, so its buffer grows once.
    std::size_t lastSnapshotSize_ = 0;
    // When the last snapshot ended and how long it took, in seconds of uptime.
    double lastSnapshotEnd_ = -std::numeric_limits<double>::infinity();
    double lastSnapshotTook_ = std::numeric_limits<double>::infinity();
};

} // namespace brivane
