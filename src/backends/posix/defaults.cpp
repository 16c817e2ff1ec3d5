// The factories both agents share: the simulated laptop talks over real local sockets, checks
// real clients against the build's own anchors, shows the host's real processes (so listed pids
// exist), lives in real time and downloads over real HTTPS (through the bundle's helper).
#include "backends/posix/kernel_files/procfs_process_table.h"
#include "backends/posix/system/epoll_event_loop.h"
#include "backends/posix/system/mmap_file_mapper.h"
#include "backends/posix/system/monotonic_uptime_clock.h"
#include "backends/posix/system/own_executable.h"
#include "backends/posix/system/pthread_naming.h"
#include "backends/posix/system/running_bundle.h"
#include "backends/posix/system/spawn_tool_runner.h"
#include "backends/posix/system/unix_endpoints.h"
#include "backends/posix/tool_protocol/helper_transfer.h"
#include "backends/posix/trust/exe_signature_source.h"
#include "platform/own_executable.h"

namespace brivane::platform {

// Every executable that links a set of factories names its queues' threads the host's way,
// from before main() on, when no queue has started yet.
[[maybe_unused]] const bool threadNamingInstalled = (posix::installPthreadNaming(), true);

std::shared_ptr<const BundleInfo> makeDefaultBundleInfo() {
    return posix::runningBundleInfo();
}

std::shared_ptr<Endpoints> makeDefaultEndpoints() {
    return std::make_shared<posix::UnixEndpoints>();
}

std::unique_ptr<EventLoop> makeDefaultEventLoop() {
    return std::make_unique<posix::EpollEventLoop>();
}

void holdTerminationRequests() {
    posix::blockTerminationSignals();
}

std::shared_ptr<const FileMapper> makeDefaultFileMapper() {
    return std::make_shared<posix::MmapFileMapper>();
}

std::function<bool()> makeDefaultReplacementCheck() {
    return [own = std::make_shared<const posix::OwnExecutable>()] { return own->replaced(); };
}

std::shared_ptr<PeerSignatureSource> makeDefaultPeerSignatureSource() {
    return std::make_shared<posix::ExeSignatureSource>(
        std::make_shared<const posix::CmsVerifier>());
}

std::shared_ptr<const ProcessTable> makeDefaultProcessTable() {
    return std::make_shared<posix::ProcfsProcessTable>("/proc");
}

std::shared_ptr<const UptimeClock> makeDefaultUptimeClock() {
    return std::make_shared<posix::MonotonicUptimeClock>();
}

std::unique_ptr<Transfer> makeDefaultTransfer(std::shared_ptr<base::SerialQueue> delegateQueue,
                                              TransferConfiguration configuration) {
    return std::make_unique<posix::HelperTransfer>(
        std::move(delegateQueue), std::move(configuration),
        std::make_shared<posix::SpawnToolRunner>(),
        posix::siblingTool("brivane-system-tools", "transfer"));
}

} // namespace brivane::platform
