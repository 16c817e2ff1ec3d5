// The factories of the simulated laptop; what it shares with the real machine is in posix/.
#include "backends/posix/system/running_bundle.h"
#include "backends/posix/system/spawn_tool_runner.h"
#include "backends/posix/system/xdg_workspace.h"
#include "backends/sim/canned_outputs.h"
#include "backends/sim/scripted_tool_runner.h"
#include "backends/sim/sim_gpu_clients.h"
#include "backends/sim/sim_ioreport_machine.h"
#include "backends/sim/sim_registry.h"
#include "backends/sim/sim_service_manager.h"
#include "backends/sim/sim_smc_laptop.h"
#include "platform/hardware_monitor.h"
#include "platform/os_version.h"
#include "platform/workspace.h"

namespace brivane::platform {

namespace {

// The simulated laptop runs a current release of its system.
class SimulatedOSVersion final : public OperatingSystemVersionSource {
public:
    OperatingSystemVersion version() const override { return {14, 5, 0}; }
};

// The simulated laptop keeps its caches where the host keeps them, and its installer "opens"
// any package that exists.
class SimulatedWorkspace final : public Workspace {
public:
    std::optional<std::string> userCachesDirectory() const override {
        return host_.userCachesDirectory();
    }
    void open(const std::string& file, std::function<void(bool)> done) override {
        std::error_code error;
        done(std::filesystem::is_regular_file(file, error));
    }

private:
    posix::XdgWorkspace host_;
};

} // namespace

// The simulated Apple-silicon machine reports everything through its SMC.
std::shared_ptr<HardwareMonitor> makeDefaultHardwareMonitor() {
    return std::make_shared<NoHardwareMonitor>();
}

std::shared_ptr<IOReportSource> makeDefaultIOReportSource() {
    return sim::makeSimulatedMacIOReport(makeDefaultUptimeClock());
}

std::shared_ptr<const OperatingSystemVersionSource> makeDefaultOperatingSystemVersionSource() {
    return std::make_shared<SimulatedOSVersion>();
}

std::shared_ptr<Registry> makeDefaultRegistry() {
    return sim::makeSimLaptopRegistry();
}

// The simulated machine has no user manager: registration lives for one run, with the bundle's
// property list visible so an unregistered agent reads as disabled.
std::shared_ptr<ServiceManager> makeDefaultServiceManager() {
    const auto contents = posix::runningBundleContents();
    if (!contents) {
        return std::make_shared<sim::SimServiceManager>(ServiceManager::notFound);
    }
    return std::make_shared<sim::SimServiceManager>(ServiceManager::notRegistered,
                                                    contents->parent_path().string());
}

std::shared_ptr<SMCTransport> makeDefaultSMCTransport() {
    return sim::makeSimulatedLaptopSMC(makeDefaultUptimeClock());
}

// The simulated laptop prints canned power-source and disk descriptions; its process monitor is
// sampled afresh from the host's processes on each run, and process status comes from the host
// through the real runner.
std::shared_ptr<ToolRunner> makeDefaultToolRunner() {
    auto runner =
        std::make_shared<sim::ScriptedToolRunner>(std::make_shared<posix::SpawnToolRunner>());
    runner->answer("/usr/bin/pmset", {"-g", "accps", "-xml"}, 0, sim::cannedPmsetOutput());
    runner->answer("/usr/sbin/diskutil", {"info", "-plist", "disk0"}, 0,
                   sim::cannedDiskutilOutput("disk0"));
    runner->respond(
        "/usr/bin/top",
        {"-o", "power", "-l", "2", "-s", "1", "-n", "130", "-stats", "pid,command,power"},
        [table = makeDefaultProcessTable()] {
            ToolResult sample;
            sample.terminationStatus = 0;
            sample.output = sim::cannedTopOutput(*table);
            return sample;
        });
    return runner;
}

std::shared_ptr<Workspace> makeDefaultWorkspace() {
    return std::make_shared<SimulatedWorkspace>();
}

std::shared_ptr<const GpuClientTable> makeDefaultGpuClientTable() {
    return std::make_shared<sim::SimGpuClients>(makeDefaultProcessTable(),
                                                makeDefaultUptimeClock());
}

} // namespace brivane::platform
