#include "core/companion_harness.h"

#include "base/main_queue.h"
#include "platform/file_mapper.h"
#include "platform/os_version.h"
#include "platform/sim/sim_ioreport_machine.h"
#include "platform/workspace.h"

#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

// Every manifest fetch fails at once, so a check ends "failed" without any network.
class OfflineTransfer final : public platform::Transfer {
public:
    OfflineTransfer(std::shared_ptr<platform::SerialQueue> queue, std::atomic<int>& fetches)
        : queue_(std::move(queue)), fetches_(fetches) {}

    void fetch(const std::string&, std::size_t,
               std::function<void(platform::DataTransferResult)> completion) override {
        ++fetches_;
        queue_->async([completion = std::move(completion)] { completion({"offline", {}, {}}); });
    }
    void download(const std::string&, std::int64_t,
                  std::function<void(platform::DownloadTransferResult)> completion) override {
        queue_->async([completion = std::move(completion)] { completion({"offline", {}, {}}); });
    }

private:
    std::shared_ptr<platform::SerialQueue> queue_;
    std::atomic<int>& fetches_;
};

} // namespace

CompanionHarness::CompanionHarness() {
    // Tools the harness does not script fail to launch, as on a machine without them.
    scripted->failLaunch("/usr/bin/pmset", {"-g", "accps", "-xml"});
}

std::unique_ptr<SensorCompanion> CompanionHarness::make() {
    SensorCompanion::Dependencies dependencies;
    dependencies.reader = smc;

    CompanionUpdater::Dependencies updaterParts;
    updaterParts.makeTransfer = [this](std::shared_ptr<platform::SerialQueue> queue) {
        return std::make_unique<OfflineTransfer>(std::move(queue), manifestFetches);
    };
    updaterParts.toolRunner = tools;
    updaterParts.workspace = platform::makeDefaultWorkspace();
    updaterParts.osVersion = platform::makeDefaultOperatingSystemVersionSource();
    updaterParts.bundleInfo = std::make_shared<platform::StaticBundleInfo>(bundleStrings);
    updaterParts.fileMapper = platform::makeDefaultFileMapper();
    updaterParts.mainQueue = &platform::mainQueue();
    dependencies.updater = std::make_shared<CompanionUpdater>(std::move(updaterParts));

    const auto ioreport = platform::sim::makeSimulatedMacIOReport(clock);
    dependencies.processReader = std::make_shared<ProcessDetailsReader>(processes, tools, clock);
    dependencies.energyPowerReader = std::make_shared<EnergyPowerReader>(ioreport, clock);
    dependencies.makeCPUReader = [this, ioreport] {
        ++cpuReadersMade;
        return std::make_unique<CPUDetailsReader>(ioreport, tools, clock, processes);
    };
    dependencies.registry = registry;
    dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(bundleStrings);
    dependencies.toolRunner = tools;
    dependencies.clock = clock;
    dependencies.processTable = processes;
    dependencies.hardwareMonitor = monitor;
    return std::make_unique<SensorCompanion>(std::move(dependencies));
}

std::future<std::optional<std::string>> ask(const Request& request) {
    auto promise = std::make_shared<std::promise<std::optional<std::string>>>();
    auto future = promise->get_future();
    request([promise](std::optional<std::string> data) { promise->set_value(std::move(data)); });
    return future;
}

std::optional<std::string> answer(const Request& request) {
    auto future = ask(request);
    if (future.wait_for(replyLimit) != std::future_status::ready) {
        ADD_FAILURE() << "no reply within the limit";
        return std::nullopt;
    }
    return future.get();
}

} // namespace brivane::testing
