#include "process_tools.h"
#include "system_tools.h"

#include <algorithm>
#include <array>
#include <unistd.h>

namespace brivane::system_tools {

namespace {

// Short enough for the reader's time limit, long enough that a busy process stands out from
// the clock-tick noise of an idle one.
constexpr std::chrono::milliseconds samplingWindow{200};

} // namespace

// Every process with its recent CPU use, busiest first, as "pid pcpu name" lines.
int runPs(std::span<const std::string> args) {
    static const std::array<std::string, 5> accepted = {"-A", "-c", "-r", "-o", "pid=,pcpu=,comm="};
    if (!std::equal(args.begin(), args.end(), accepted.begin(), accepted.end()))
        return usage("ps -A -c -r -o pid=,pcpu=,comm=");
    const ProcessCpuSampler sampler("/proc");
    return printed(processStatusOutput(sampler, samplingWindow, ::getpid()));
}

} // namespace brivane::system_tools
