#include "core/sensor_companion.h"

#include "core/disk_name.h"
#include "core/reply_rule.h"
#include "formats/companion_update.h"
#include "formats/process_details_snapshot.h"
#include "formats/storage_health.h"
#include "readers/storage_health_reader.h"

namespace brivane {

SensorCompanion::Dependencies SensorCompanion::Dependencies::platformDefaults() {
    Dependencies dependencies;
    dependencies.reader = std::make_shared<SMC>();
    dependencies.updater = std::make_shared<CompanionUpdater>();
    dependencies.processReader = std::make_shared<ProcessDetailsReader>();
    dependencies.energyPowerReader = std::make_shared<EnergyPowerReader>();
    dependencies.makeCPUReader = [] { return std::make_unique<CPUDetailsReader>(); };
    dependencies.registry = platform::makeDefaultRegistry();
    dependencies.bundleInfo = platform::makeDefaultBundleInfo();
    dependencies.toolRunner = platform::makeDefaultToolRunner();
    dependencies.clock = platform::makeDefaultUptimeClock();
    dependencies.processTable = platform::makeDefaultProcessTable();
    dependencies.hardwareMonitor = platform::makeDefaultHardwareMonitor();
    return dependencies;
}

SensorCompanion::SensorCompanion() : SensorCompanion(Dependencies::platformDefaults()) {}

SensorCompanion::SensorCompanion(Dependencies dependencies)
    : reader(std::move(dependencies.reader)), updater(std::move(dependencies.updater)),
      queue(std::make_unique<TurnQueue>(std::string(queueLabel))),
      cpuQueue(std::make_unique<TurnQueue>(std::string(cpuQueueLabel))),
      processQueue(std::make_unique<TurnQueue>(std::string(processQueueLabel),
                                               base::ThreadPriority::utility)),
      energyQueue(std::make_unique<TurnQueue>(std::string(energyQueueLabel),
                                              base::ThreadPriority::utility)),
      storageQueue(std::make_unique<TurnQueue>(std::string(storageQueueLabel),
                                               base::ThreadPriority::utility)),
      processReader(std::move(dependencies.processReader)),
      energyPowerReader(std::move(dependencies.energyPowerReader)),
      makeCPUReader_(std::move(dependencies.makeCPUReader)),
      registry_(std::move(dependencies.registry)),
      companionVersion_(dependencies.bundleInfo->stringValue("CFBundleShortVersionString")),
      toolRunner_(std::move(dependencies.toolRunner)), clock_(std::move(dependencies.clock)),
      processTable_(std::move(dependencies.processTable)),
      hardwareMonitor_(dependencies.hardwareMonitor
                           ? std::move(dependencies.hardwareMonitor)
                           : std::make_shared<platform::NoHardwareMonitor>()) {}

SensorCompanion::~SensorCompanion() {
    releasing_ = true;
    // Queued work still uses the readers: settle it before any member goes away.
    queue.reset();
    cpuQueue.reset();
    processQueue.reset();
    energyQueue.reset();
    storageQueue.reset();
}

void SensorCompanion::snapshotWithReply(Reply reply) {
    // Each snapshot is read afresh: the energy averages cover the time since the one before.
    const auto work = [this](const Reply& reply) {
        if (releasing_.load(std::memory_order_relaxed)) {
            reply(std::nullopt);
            return;
        }
        const double start = clock_->uptime();
        const SensorSnapshot snapshot = assembleSnapshot();
        const std::size_t size = replyWith(reply, snapshot, lastSnapshotSize_);
        if (size > 0) {
            lastSnapshotSize_ = size;
        }
        lastSnapshotEnd_ = clock_->uptime();
        lastSnapshotTook_ = lastSnapshotEnd_ - start;
    };
    // A connection's other requests of the same read wait their turns behind other clients'.
    const auto quick = [this, reply] { return snapshotIsQuick() && reply.mayRunHere(); };
    queue->runHereOrAsync(std::move(reply), work, quick);
}

// The back ends answer a request from what they hold while clients keep asking; only after a
// rest may one wait for a fresh read, and the accessory tool runs a process. So a snapshot runs
// on the requester's thread only while the last one was recent and fast and no tool run is due.
bool SensorCompanion::snapshotIsQuick() const {
    const double now = clock_->uptime();
    return temperatureKeys && now + quickSnapshotMargin < nextAccessoryRead &&
           now - lastSnapshotEnd_ < quickSnapshotWithin && lastSnapshotTook_ < quickSnapshotTime;
}

void SensorCompanion::cpuDetailsWithReply(Reply reply) {
    enqueue(*cpuQueue, std::move(reply), "cpu", [this](const Reply& reply) {
        if (!cpuReader) {
            cpuReader = makeCPUReader_();
        }
        replyWith(reply, cpuReader->read());
    });
}

void SensorCompanion::processDetails(std::string kind, Reply reply) {
    const auto parsed = processDetailsKind(kind);
    if (!parsed) {
        reply(std::nullopt);
        return;
    }
    auto& target = *parsed == ProcessDetailsKind::energy ? energyQueue : processQueue;
    enqueue(*target, std::move(reply), std::move(kind), [this, kind = *parsed](const Reply& reply) {
        replyWith(reply, processReader->read(kind));
    });
}

void SensorCompanion::storageHealth(std::string disk, Reply reply) {
    if (!isStorageDiskName(disk)) {
        reply(std::nullopt);
        return;
    }
    enqueue(*storageQueue, std::move(reply), disk, [this, disk](const Reply& reply) {
        StorageHealthSnapshot snapshot;
        snapshot.reading = readStorageHealth(*toolRunner_, disk);
        snapshot.helperUID = processTable_->realUserID();
        snapshot.helperEffectiveUID = processTable_->effectiveUserID();
        replyWith(reply, snapshot);
    });
}

void SensorCompanion::manage(std::string command, Reply reply) {
    const auto parsed = sensorCompanionCommand(command);
    if (!parsed) {
        reply(std::nullopt);
        return;
    }
    updater->perform(*parsed, [reply = std::move(reply)](const SensorCompanionUpdate& update) {
        replyWith(reply, update);
    });
}

void SensorCompanion::invalidate() {
    updater->cancel();
}

} // namespace brivane
