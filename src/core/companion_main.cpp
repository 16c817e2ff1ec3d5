#include "core/companion_main.h"

#include "core/agent_startup.h"

namespace brivane {

int companionMain(const std::vector<std::string>& arguments) {
    if (arguments == std::vector<std::string>{"--agent"}) {
        return runAgent(AgentStartupDependencies::platformDefaults());
    }
    return exitUsage;
}

} // namespace brivane
