// Any bytes as a powercap zone directory name or a zone's name file: an accepted zone prints
// back (in hexadecimal) to a name that parses to the same zone.
#include "backends/linux/power/energy_counters.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::platform::linux_backend;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)powercapDomain(text);
    const auto zone = parsePowercapZoneDirectory(text);
    if (!zone)
        return 0;
    char printed[48];
    if (zone->subzone)
        std::snprintf(printed, sizeof printed, "intel-rapl:%x:%x", zone->package, *zone->subzone);
    else
        std::snprintf(printed, sizeof printed, "intel-rapl:%x", zone->package);
    const auto again = parsePowercapZoneDirectory(printed);
    if (!again || again->package != zone->package || again->subzone != zone->subzone)
        std::abort();
    return 0;
}
