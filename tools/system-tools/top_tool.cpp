#include "base/whole_number.h"
#include "process_tools.h"
#include "system_tools.h"

#include <optional>
#include <unistd.h>

namespace brivane::system_tools {

namespace {

std::optional<int> boundedNumber(const std::string& text, int lowest, int highest) {
    const auto value = base::wholeNumber<int>(text);
    if (!value || *value < lowest || *value > highest)
        return std::nullopt;
    return value;
}

} // namespace

// "-o power -l <samples> -s <seconds> -n <processes> -stats pid,command,power": samples in the
// log form, the power column the energy impact (CPU share).
int runTop(std::span<const std::string> args) {
    std::optional<int> samples, seconds, processes;
    if (args.size() == 10 && args[0] == "-o" && args[1] == "power" && args[2] == "-l" &&
        args[4] == "-s" && args[6] == "-n" && args[8] == "-stats" &&
        args[9] == "pid,command,power") {
        samples = boundedNumber(args[3], 1, 10);
        seconds = boundedNumber(args[5], 0, 10);
        processes = boundedNumber(args[7], 1, 10000);
    }
    if (!samples || !seconds || !processes)
        return usage("top -o power -l SAMPLES -s SECONDS -n PROCESSES -stats pid,command,power");
    const ProcessCpuSampler sampler("/proc");
    return printed(processMonitorOutput(sampler, *samples, std::chrono::seconds(*seconds),
                                        static_cast<std::size_t>(*processes), ::getpid()));
}

} // namespace brivane::system_tools
