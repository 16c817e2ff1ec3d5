#include "system_tools.h"

namespace brivane::system_tools {

int runPs(std::span<const std::string>) {
    return usage("ps -A -c -r -o pid=,pcpu=,comm=");
}

} // namespace brivane::system_tools
