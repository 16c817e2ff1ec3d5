// The factories of the real machine.
#include "backends/linux/gpu/card_activity.h"
#include "backends/linux/gpu/drm_clients.h"
#include "backends/linux/hwmon/hwmon_hardware_monitor.h"
#include "backends/linux/hwmon/hwmon_smc_transport.h"
#include "backends/linux/os_release.h"
#include "backends/linux/service/systemd_service_manager.h"
#include "backends/linux/sysfs_ioreport_source.h"
#include "backends/linux/sysfs_registry.h"
#include "backends/posix/system/monotonic_uptime_clock.h"
#include "backends/posix/system/running_bundle.h"
#include "backends/posix/system/spawn_tool_runner.h"
#include "backends/posix/system/xdg_workspace.h"

#include <mutex>
#include <unistd.h>

namespace brivane::platform {
namespace {

// The sensor back ends of one agent wake together after a rest.
linux_backend::SensorPoller::Setup sensorSetup() {
    return {.demand = linux_backend::SharedDemand::agents(),
            .cards = linux_backend::CardActivity::agents()};
}

// The NVIDIA library as the cards' probes hold it, whose per-process figures the cards'
// clients are shown.
std::shared_ptr<linux_backend::NvmlSession> agentsNvml() {
    static const auto session = std::make_shared<linux_backend::NvmlSession>(
        "libnvidia-ml.so.1", std::make_shared<posix::MonotonicUptimeClock>());
    return session;
}

} // namespace

std::shared_ptr<HardwareMonitor> makeDefaultHardwareMonitor() {
    return std::make_shared<linux_backend::HwmonHardwareMonitor>("/sys", sensorSetup());
}

// One per agent, however many readers ask: each counter is read once, and the energy back end
// is one source in the snapshot, not one per reader.
std::shared_ptr<IOReportSource> makeDefaultIOReportSource() {
    static std::mutex mutex;
    static std::weak_ptr<IOReportSource> shared;
    const std::lock_guard lock(mutex);
    auto source = shared.lock();
    if (!source) {
        source = std::make_shared<linux_backend::SysfsIOReportSource>(
            "/sys", ::pread, "/proc", linux_backend::CpuSampling{}, sensorSetup());
        shared = source;
    }
    return source;
}

std::shared_ptr<const OperatingSystemVersionSource> makeDefaultOperatingSystemVersionSource() {
    return std::make_shared<linux_backend::OSReleaseVersionSource>();
}

std::shared_ptr<Registry> makeDefaultRegistry() {
    return std::make_shared<linux_backend::SysfsRegistry>("/sys", sensorSetup(), agentsNvml());
}

std::shared_ptr<ServiceManager> makeDefaultServiceManager() {
    const auto contents = posix::runningBundleContents();
    const auto bundle =
        contents ? std::optional<std::filesystem::path>(contents->parent_path()) : std::nullopt;
    using linux_backend::SystemdServiceManager;
    return std::make_shared<SystemdServiceManager>(
        bundle, SystemdServiceManager::userUnitFolder().value_or(""),
        std::make_shared<posix::SpawnToolRunner>(),
        bundle ? SystemdServiceManager::packagedUnitFolder(*bundle) : std::nullopt,
        SystemdServiceManager::systemctlOnPath());
}

std::shared_ptr<SMCTransport> makeDefaultSMCTransport() {
    return std::make_shared<linux_backend::HwmonSMCTransport>("/sys", sensorSetup());
}

std::shared_ptr<ToolRunner> makeDefaultToolRunner() {
    return std::make_shared<posix::SpawnToolRunner>();
}

std::shared_ptr<const GpuClientTable> makeDefaultGpuClientTable() {
    // Root may read every process's descriptors; others only their own.
    const uid_t user = ::geteuid();
    return std::make_shared<linux_backend::DrmClients>(
        "/proc", "/sys", user == 0 ? std::nullopt : std::optional(user), agentsNvml());
}

std::shared_ptr<Workspace> makeDefaultWorkspace() {
    return std::make_shared<posix::XdgWorkspace>();
}

} // namespace brivane::platform
