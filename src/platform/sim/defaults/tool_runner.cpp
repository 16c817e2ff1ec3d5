#include "platform/linux/tool_runner_linux.h"
#include "platform/sim/canned_outputs.h"
#include "platform/sim/scripted_tool_runner.h"

namespace brivane::platform {

// The simulated laptop prints canned power-source and disk descriptions; its process monitor is
// sampled afresh from the host's processes on each run, and process status comes from the host
// through the Linux runner.
std::shared_ptr<ToolRunner> makeDefaultToolRunner() {
    auto runner = std::make_shared<sim::ScriptedToolRunner>(
        std::make_shared<linux_backend::LinuxToolRunner>());
    runner->answer("/usr/bin/pmset", {"-g", "accps", "-xml"}, 0, sim::cannedPmsetOutput());
    runner->answer("/usr/sbin/diskutil", {"info", "-plist", "disk0"}, 0,
                   sim::cannedDiskutilOutput("disk0"));
    runner->respond(
        "/usr/bin/top",
        {"-o", "power", "-l", "2", "-s", "1", "-n", "130", "-stats", "pid,command,power"}, [] {
            ToolResult sample;
            sample.terminationStatus = 0;
            sample.output = sim::cannedTopOutput();
            return sample;
        });
    return runner;
}

} // namespace brivane::platform
