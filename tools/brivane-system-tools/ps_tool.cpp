#include "system_tools.h"

#include <iostream>

namespace brivane::system_tools {

int runPs(std::span<const std::string> args) {
    (void)args;
    std::cerr << "usage: ps -A -c -r -o pid=,pcpu=,comm=\n";
    return usageError;
}

} // namespace brivane::system_tools
