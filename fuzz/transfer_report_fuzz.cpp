// The transfer helper's report as the agent reads it: any output parses or is refused, and a
// parsed report formats back to the same head line.
#include "backends/posix/tool_protocol/transfer_report.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    const auto report = brivane::platform::posix::parseTransferReport(output);
    if (report && output.substr(0, output.find('\n') + 1) !=
                      brivane::platform::posix::transferReportHead(*report)) {
        std::abort();
    }
    return 0;
}
