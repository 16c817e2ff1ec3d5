#pragma once

#include "ipc/listener.h"
#include "ipc/sensor_service_protocol.h"
#include "platform/bundle_info.h"
#include "platform/process_table.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string_view>

namespace brivane {

// Exit statuses of the executable.
inline constexpr int exitSuccess = 0;
inline constexpr int exitRegistrationFailed = 1;
inline constexpr int exitUsage = 2;

// What the agent role needs from the outside; the defaults use the platform's.
struct AgentStartupDependencies {
    std::shared_ptr<const platform::BundleInfo> bundleInfo;
    std::shared_ptr<const platform::ProcessTable> processTable;
    std::function<ipc::ListenerCreation(std::string_view serviceName)> createListener;
    std::function<std::shared_ptr<ipc::BrivaneSensorSnapshotXPC>()> makeService;
    // Whether the agent's executable was replaced on disk since it started; may be empty.
    std::function<bool()> executableReplaced;

    static AgentStartupDependencies platformDefaults();
};

// The "--agent" role: checks its preconditions, publishes the service and runs the listener's
// loop. Returns the exit status: 2 when it cannot start, having written one line to err that
// says why; 0 when the loop returns.
int runAgent(const AgentStartupDependencies& dependencies, std::ostream& err);

} // namespace brivane
