#include "core/agent_startup.h"

#include "core/connection_requirement.h"
#include "core/sensor_companion.h"
#include "identity/sensor_companion_identity.h"
#include "platform/event_loop.h"
#include "platform/own_executable.h"

namespace brivane {

AgentStartupDependencies AgentStartupDependencies::platformDefaults() {
    return {platform::makeDefaultBundleInfo(), platform::makeDefaultProcessTable(),
            [](std::string_view serviceName) { return ipc::Listener::create(serviceName); },
            [] { return std::make_shared<SensorCompanion>(); },
            platform::makeDefaultReplacementCheck()};
}

namespace {

int refuse(std::ostream& err, const std::string& why) {
    err << "brivane-sensor-companion: " << why << "\n";
    err.flush();
    return exitUsage;
}

} // namespace

int runAgent(const AgentStartupDependencies& dependencies, std::ostream& err) {
    const auto team = dependencies.bundleInfo->stringValue("BrivaneTeamIdentifier");
    if (!team) {
        return refuse(err, "the agent runs only from its application bundle, whose information "
                           "names its team; this executable has none");
    }
    const std::string serviceName = identity::SensorCompanionIdentity::service(*team);
    const std::string_view client = identity::SensorCompanionIdentity::client;

    // An agent serves its own user only: never as root, never set-uid.
    const auto realUser = dependencies.processTable->realUserID();
    if (realUser == 0 || dependencies.processTable->effectiveUserID() != realUser) {
        return refuse(err, "the agent serves one ordinary user and never runs as root or set-uid; "
                           "as that user, run brivane-sensor-companion --install");
    }

    // Held from before the endpoint appears until the listener takes them over.
    platform::holdTerminationRequests();
    auto creation = dependencies.createListener(serviceName);
    if (!creation.listener) {
        return refuse(err, creation.failure == ipc::ListenerFailure::alreadyServing
                               ? creation.message + "; nothing to do"
                               : "cannot serve: " + creation.message);
    }
    ipc::Listener& listener = *creation.listener;
    // Before the service starts its queues' threads, which inherit the blocked signals.
    listener.stopOnTermination();

    const auto service = dependencies.makeService();
    installConnectionRequirement(
        listener, identity::SensorCompanionIdentity::clientRequirement(client, *team));
    listener.setDelegate(service);
    // An upgrade replaces the executable under the running agent, whose clients then refuse it
    // (the file it runs carries no signature any more). It makes way: the socket unit starts
    // the new one on the next request.
    if (dependencies.executableReplaced) {
        listener.retireWhen(dependencies.executableReplaced);
    }
    listener.resume();
    listener.run();
    return exitSuccess;
}

} // namespace brivane
