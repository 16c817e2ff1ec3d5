// Any bytes as /proc/<pid>/stat or schedstat, and as a process name: the parsers never read
// out of bounds, and a name of any bytes yields exactly one process-status line that the
// reader's line rule takes back with the same pid and figure.
#include "readers/process_status_line.h"
#include "system-tools/process_listing.h"
#include "system-tools/process_sampling.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::system_tools;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)brivane::system_tools::parseStatCpuTicks(text);
    (void)brivane::system_tools::parseSchedstatRunTime(text);

    const std::string name = brivane::system_tools::lineSafeName(text);
    std::string line;
    brivane::system_tools::appendProcessStatusLine(line, 4242, 1.5, name);
    const auto readings = brivane::parseProcessStatusOutput(line, 128);
    // Never a forged second line; a line only dropped when its name is all blanks (ASCII or
    // Unicode, hence the test on ASCII letters only).
    const bool printable = std::any_of(name.begin(), name.end(), [](char c) {
        return c > ' ' && static_cast<unsigned char>(c) < 0x80;
    });
    if (readings.size() > 1 || (readings.empty() && printable))
        std::abort();
    if (readings.size() == 1 && (readings[0].pid != 4242 || readings[0].usage != 1.5))
        std::abort();
    return 0;
}
